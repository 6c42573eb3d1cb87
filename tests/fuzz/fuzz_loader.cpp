// libFuzzer target: the whole package load from an arbitrary file image.
// Any crash, hang, out-of-bounds access or leaked block is a finding, and
// so is out of memory: no allocation is refused here, so that result
// would be damage told to the user as a shortage.
#include "package.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    long before = VHeapLiveBlocks();
    UseMemoryPackage(data, size);
    ModulePath[0] = 0;
    LoadResult r = LoadPackage();
    ReleasePackage();
    UseFilePackages();
    if ((r != LoadSucceeded && r != LoadNotAPackage && r != LoadDamaged) || VHeapLiveBlocks() != before)
        abort();
    return 0;
}
