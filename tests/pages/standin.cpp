// standin.cpp -- the rest of the setup program as the pages see it: the
// start-up globals, the navigation requests (recorded instead of acted on)
// and the installation's space figures (set by the tests).
#include "harness.h"

HINSTANCE InstanceHandle;
HICON AppIcon;
WCHAR BackgroundColorText[8] = L"#ffffff";
HWND FrameWindow;
HWND MenuBarWindow;
HIMAGELIST StateImageList;

namespace pages {
std::vector<int> Requests;
DWORD StandInRequired;
bool UseStandInRequired;
DWORD StandInFree = 0xFFFFFFFFu;
}  // namespace pages

void RequestNextPage(void) { pages::Requests.push_back(CmdNext); }
void RequestPreviousPage(void) { pages::Requests.push_back(CmdBack); }
void RequestCancel(void) { pages::Requests.push_back(CmdCancel); }
void RequestAbort(void) { pages::Requests.push_back(CmdAbort); }

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
