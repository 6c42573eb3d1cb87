// pagedriver.cpp -- see pagedriver.h.
#include "testsupport.h"
#include "pagedriver.h"

#include <functional>

namespace pagedriver {

using robot::Failure;

velkor::PackageRecipe Recipe(uint8_t pageFlags, uint8_t useDefaultLocation, std::vector<std::u16string> names,
                         std::vector<bool> selected)
{
    velkor::PackageRecipe recipe = testsupport::ToolRecipe(pageFlags, useDefaultLocation);
    testsupport::AddComponents(recipe, names, selected, false);
    return recipe;
}

std::wstring WriteSizedPackageExe(const velkor::PackageRecipe &recipe, const std::vector<uint32_t> &sizes,
                                  const std::wstring &fileName)
{
    return robot::WriteDeviceFile(fileName, testsupport::SizedPackage(robot::SetupImage(), recipe, sizes));
}

void PressKey(robot::Wizard &w, int controlId, UINT virtualKey, wchar_t character)
{
    HWND c = w.Control(controlId);
    UINT scan = MapVirtualKeyW(virtualKey, 0);
    PostMessageW(c, WM_KEYDOWN, virtualKey, LPARAM(1 | (scan << 16)));
    if (character)
        PostMessageW(c, WM_CHAR, character, LPARAM(1 | (scan << 16)));
    PostMessageW(c, WM_KEYUP, virtualKey, LPARAM(1 | (scan << 16) | 0xC0000000u));
}

LRESULT Ask(robot::Wizard &w, int controlId, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(w.Control(controlId), message, wParam, lParam, SMTO_ABORTIFHUNG,
                             robot::Limit(5000), &result))
        throw Failure("control " + std::to_string(controlId) + " did not answer message " + std::to_string(message));
    return LRESULT(result);
}

void MakeFolders(const std::vector<std::wstring> &relativePaths)
{
    std::wstring failed;
    if (!testsupport::MakeFolders(robot::DeviceRoot(), relativePaths, &failed))
        throw Failure("cannot make the folder " + robot::Narrow(failed));
}

void RemoveTree(const std::wstring &relativePath) { testsupport::RemoveTree(robot::DeviceRoot() + relativePath); }

std::vector<std::wstring> TreePaths(robot::Wizard &w, int treeId)
{
    std::vector<std::wstring> out, stack;
    for (const robot::TreeItem &item : w.TreeItems(treeId)) {
        stack.resize(size_t(item.depth));
        stack.push_back(item.text);
        std::wstring path;
        for (const std::wstring &part : stack)
            path += (path.empty() || path == L"\\" ? L"" : L"\\") + part;
        out.push_back(path);
    }
    return out;
}

Capture CaptureControl(robot::Wizard &w, int controlId)
{
    robot::Picture picture = robot::WindowPicture(w.Control(controlId), false, w.TimeLimit());
    if (picture.Empty())
        throw Failure("control " + std::to_string(controlId) + " did not paint a picture of itself");
    Capture capture;
    capture.width = picture.width;
    capture.height = picture.height;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            capture.pixels.push_back(picture.At(x, y));
    return capture;
}

// The lines of the state images (resources/make_images.py draws them).
static bool StateImageBlack(int cell, int x, int y)
{
    bool outline = ((x == 1 || x == 14) && y >= 1 && y <= 14) || ((y == 1 || y == 14) && x >= 1 && x <= 14);
    if (outline)
        return true;
    if (cell != 2)
        return false;
    static const std::vector<std::vector<int>> tick = {{}, {}, {}, {}, {11}, {10, 11}, {9, 10, 11},
                                                       {4, 8, 9, 10}, {4, 5, 7, 8, 9}, {4, 5, 6, 7, 8},
                                                       {5, 6, 7}, {6}};
    if (y >= int(tick.size()))
        return false;
    for (int t : tick[size_t(y)])
        if (t == x)
            return true;
    return false;
}

int CountStateImages(const Capture &c, int cell)
{
    int found = 0;
    auto dark = [](COLORREF p) { return GetRValue(p) < 40 && GetGValue(p) < 40 && GetBValue(p) < 40; };
    // A row lower than the cell is tall shows the cell cut at its edges:
    // its top line may sit on the control's first pixel row.
    for (int oy = -1; oy + 15 <= c.height; ++oy)
        for (int ox = 0; ox + 16 <= c.width; ++ox) {
            bool match = true;
            for (int y = 1; y <= 14 && match; ++y) {
                if (oy + y < 0 || oy + y >= c.height)
                    continue;
                for (int x = 1; x <= 14 && match; ++x)
                    match = dark(c.At(ox + x, oy + y)) == StateImageBlack(cell, x, y);
            }
            if (match)
                ++found;
        }
    return found;
}

}  // namespace pagedriver
