// pagedriver.h -- what the end-to-end page tests need beyond the robot:
// packages whose components report chosen sizes, the space bar on a tree,
// keys and reads on a control of the other process, folders in the device
// root, and a look at the pixels of a control on screen.
#pragma once

#include "packages.h"
#include "robot.h"
#include "wizard_support.h"

#include <functional>
#include <string>
#include <vector>

namespace pagedriver {

// setup.exe with the package of `recipe`, whose component i reports sizes[i]
// bytes instead of the size of its CAB (no payloads: such a package is for
// looking at the pages, never for installing).
std::wstring WriteSizedPackageExe(const velkor::PackageRecipe &recipe, const std::vector<uint32_t> &sizes,
                                  const std::wstring &fileName);

// A package with every text, product "Tool" by "Acme", the page flags and
// default-location flag given, and components with these names (none: no
// component) that are all selected unless `selected` says otherwise.
velkor::PackageRecipe Recipe(uint8_t pageFlags, uint8_t useDefaultLocation, std::vector<std::u16string> names = {},
                         std::vector<bool> selected = {});

// Posts a key press (down, the character when it has one, up) to a control.
void PressKey(robot::Wizard &w, int controlId, UINT virtualKey, wchar_t character = 0);

// Waits until `condition` holds, failing with `what` after the robot's limit.
using wizardtest::WaitUntil;

// A message to a control of the page on screen whose answer needs no
// pointer (EM_GETLINECOUNT, WM_VSCROLL ...), with a time limit.
LRESULT Ask(robot::Wizard &w, int controlId, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

// The space line of the destination page, less its text before the figure.
using wizardtest::SpaceFigure;

// Folders and files in the device root, made with their parents.
void MakeFolders(const std::vector<std::wstring> &relativePaths);
void RemoveTree(const std::wstring &relativePath);

// The tree's items as "\"-joined paths of texts, in display order.
std::vector<std::wstring> TreePaths(robot::Wizard &w, int treeId);

// The pixels of a control's client area as it paints itself (whatever
// covers it on screen), rows top-down, one COLORREF each.
struct Capture {
    int width = 0, height = 0;
    std::vector<COLORREF> pixels;
    COLORREF At(int x, int y) const { return pixels[size_t(y) * width + x]; }
};
Capture CaptureControl(robot::Wizard &w, int controlId);

// Where the 16 x 16 cell `cell` (1 empty box, 2 ticked box) of the state
// images shows in the capture, as black lines on any lighter background;
// the number of places it shows.
int CountStateImages(const Capture &capture, int cell);

}  // namespace pagedriver
