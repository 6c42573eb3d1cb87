// standin.cpp -- the installation's space figures as the pages see them,
// set by the tests.
#include "harness.h"

namespace pages {
DWORD StandInRequired;
bool UseStandInRequired;
DWORD StandInFree = 0xFFFFFFFFu;
}  // namespace pages

DWORD RequiredSpace(const SetupPackage *package)
{
    if (pages::UseStandInRequired)
        return pages::StandInRequired;
    // The sum as the installation makes it, held at the 32-bit ceiling.
    unsigned long long sum = 0;
    for (uint32_t i = 0; i < package->ComponentCount; ++i)
        if (package->Components[i].Selected)
            sum += package->Components[i].UnpackedSize;
    return sum > 0xFFFFFFFFull ? 0xFFFFFFFFu : DWORD(sum);
}

DWORD DestinationFreeSpace(const SetupPackage *) { return pages::StandInFree; }
