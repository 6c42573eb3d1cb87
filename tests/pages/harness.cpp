// harness.cpp -- see harness.h.
#include "testsupport.h"
#include "harness.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

namespace pages {

static std::vector<uint8_t> PackageImage;
static std::vector<HWND> Pages;
static HWND FrameWindow;
static std::vector<int> Recorded;

velkor::PackageRecipe Sample(uint8_t pageFlags, std::vector<std::u16string> names, std::vector<bool> selected)
{
    velkor::PackageRecipe recipe = testsupport::ToolRecipe(pageFlags);
    testsupport::AddComponents(recipe, names, selected);
    return recipe;
}

void LoadTestPackage(const velkor::PackageRecipe &recipe, const std::vector<uint32_t> &sizes)
{
    ReleasePackage();
    // The header at offset 0 and the trailer after it; no payloads, since
    // nothing is installed here.
    PackageImage = testsupport::SizedPackage({}, recipe, sizes);
    UseMemoryPackage(PackageImage.data(), PackageImage.size());
    LoadResult result = LoadPackage();
    UseFilePackages();
    ASSERT_EQ(result, LoadSucceeded);
    ClearRequests();
}

// Records what the pages ask, as the frame of the program would act on it.
static INT_PTR CALLBACK FrameProcedure(HWND, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_WIZARDCOMMAND) {
        Recorded.push_back(int(wParam));
        return FALSE;
    }
    return message == WM_INITDIALOG;
}

// The abort is posted: take it from the queue to the frame.
static void DeliverPostedRequests()
{
    MSG message;
    while (FrameWindow && PeekMessageW(&message, FrameWindow, WM_WIZARDCOMMAND, WM_WIZARDCOMMAND, PM_REMOVE))
        DispatchMessageW(&message);
}

const std::vector<int> &Requests()
{
    DeliverPostedRequests();
    return Recorded;
}

void ClearRequests()
{
    DeliverPostedRequests();
    Recorded.clear();
}

static HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

HWND Frame()
{
    if (!FrameWindow) {
        lstrcpyW(BackgroundColorText, L"#ffffff");
        PlatformInitHtmlControl(Instance());
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        HRSRC resource = FindResourceW(Instance(), MAKEINTRESOURCEW(IDD_FRAME), (LPCWSTR)RT_DIALOG);
        FrameWindow = CreateDialogIndirectParamW(Instance(),
                                                 (LPCDLGTEMPLATEW)LockResource(LoadResource(Instance(), resource)),
                                                 nullptr, FrameProcedure, 0);
        PlatformSizeDialogToWorkArea(FrameWindow);
        ShowWindow(FrameWindow, SW_SHOW);
    }
    return FrameWindow;
}

HWND MakePage(int templateId, DLGPROC procedure)
{
    HWND frame = Frame();
    for (HWND p : Pages)
        ShowWindow(p, SW_HIDE);
    HRSRC resource = FindResourceW(Instance(), MAKEINTRESOURCEW(templateId), (LPCWSTR)RT_DIALOG);
    HWND page = CreateDialogIndirectParamW(Instance(),
                                           (LPCDLGTEMPLATEW)LockResource(LoadResource(Instance(), resource)),
                                           frame, procedure, LPARAM(Instance()));
    EXPECT_NE(page, nullptr) << "template " << templateId;
    if (page) {
        RECT client;
        GetClientRect(frame, &client);
        SetWindowPos(page, HWND_TOP, 0, 0, client.right, client.bottom, SWP_SHOWWINDOW);
        Pages.push_back(page);
    }
    PumpFor(10);
    return page;
}

void DestroyPages()
{
    for (HWND p : Pages)
        DestroyWindow(p);
    Pages.clear();
    ReleaseComponentImages();
    PumpFor(10);
}

static UINT IconKind(HWND box)
{
    HWND icon = nullptr;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        wchar_t cls[32] = {};
        GetClassNameW(c, cls, 32);
        if (_wcsicmp(cls, L"Static") == 0 && (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            icon = c;
    }
    if (!icon || !IsWindowVisible(icon))
        return 0;
    HICON shown = (HICON)SendMessageW(icon, STM_GETICON, 0, 0);
    const struct {
        LPCWSTR id;
        UINT kind;
    } kinds[] = {{IDI_HAND, MB_ICONHAND},
                 {IDI_ASTERISK, MB_ICONINFORMATION},
                 {IDI_QUESTION, MB_ICONQUESTION},
                 {IDI_EXCLAMATION, MB_ICONEXCLAMATION}};
    for (const auto &k : kinds)
        if (shown && shown == LoadIconW(nullptr, k.id))
            return k.kind;
    return 0xFFFFFFFFu;
}

std::optional<BoxSeen> WithMessageBoxes(const std::function<void()> &action)
{
    DWORD thread = GetCurrentThreadId();
    std::atomic<bool> done{false};
    std::mutex lock;
    std::optional<BoxSeen> first;
    std::thread watcher([&] {
        while (!done) {
            struct Found {
                HWND box = nullptr;
            } found;
            EnumThreadWindows(
                thread,
                [](HWND w, LPARAM p) -> BOOL {
                    wchar_t cls[32] = {};
                    GetClassNameW(w, cls, 32);
                    if (wcscmp(cls, L"#32770") == 0 && IsWindowVisible(w) && GetDlgItem(w, 0xFFFF)) {
                        reinterpret_cast<Found *>(p)->box = w;
                        return FALSE;
                    }
                    return TRUE;
                },
                LPARAM(&found));
            if (found.box) {
                BoxSeen seen;
                wchar_t buffer[1024] = {};
                GetWindowTextW(found.box, buffer, 1024);
                seen.caption = buffer;
                buffer[0] = 0;
                GetDlgItemTextW(found.box, 0xFFFF, buffer, 1024);
                seen.text = buffer;
                seen.icon = IconKind(found.box);
                seen.owner = GetWindow(found.box, GW_OWNER);
                {
                    std::lock_guard<std::mutex> hold(lock);
                    if (!first)
                        first = seen;
                }
                PostMessageW(found.box, WM_COMMAND, IDOK, 0);
                Sleep(50);
            }
            Sleep(10);
        }
    });
    action();
    PumpFor(20);
    done = true;
    watcher.join();
    return first;
}

void Tap(HWND page, int id)
{
    HWND control = GetDlgItem(page, id);
    ASSERT_NE(control, nullptr) << "control " << id;
    ASSERT_TRUE(IsWindowEnabled(control)) << "control " << id << " is disabled";
    SendMessageW(control, BM_CLICK, 0, 0);
}

void MakeFolders(const std::vector<std::wstring> &relativePaths)
{
    std::wstring failed;
    ASSERT_TRUE(testsupport::MakeFolders(DeviceRoot(), relativePaths, &failed))
        << "cannot make the folder " << Narrow(failed);
}

void MakeFile(const std::wstring &relativePath)
{
    HANDLE f = CreateFileW((DeviceRoot() + relativePath).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);
}

void RemoveTree(const std::wstring &relativePath)
{
    testsupport::RemoveTree(DeviceRoot() + relativePath);
}

std::wstring ItemText(HWND tree, HTREEITEM item)
{
    wchar_t buffer[300] = {};
    TVITEMW record = {};
    record.mask = TVIF_HANDLE | TVIF_TEXT;
    record.hItem = item;
    record.pszText = buffer;
    record.cchTextMax = 300;
    SendMessageW(tree, TVM_GETITEMW, 0, LPARAM(&record));
    return buffer;
}

std::vector<std::wstring> ChildTexts(HWND tree, HTREEITEM parent)
{
    std::vector<std::wstring> out;
    HTREEITEM item = parent ? TreeView_GetChild(tree, parent) : TreeView_GetRoot(tree);
    for (; item; item = TreeView_GetNextSibling(tree, item))
        out.push_back(ItemText(tree, item));
    return out;
}

HTREEITEM FindItem(HWND tree, const std::wstring &path)
{
    HTREEITEM item = TreeView_GetRoot(tree);
    if (!item || ItemText(tree, item) != L"\\")
        return nullptr;
    size_t start = 1;
    while (start < path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos)
            end = path.size();
        std::wstring part = path.substr(start, end - start);
        HTREEITEM child = TreeView_GetChild(tree, item);
        while (child && ItemText(tree, child) != part)
            child = TreeView_GetNextSibling(tree, child);
        if (!child)
            return nullptr;
        item = child;
        start = end + 1;
    }
    return item;
}

LPARAM ItemParam(HWND tree, HTREEITEM item)
{
    TVITEMW record = {};
    record.mask = TVIF_HANDLE | TVIF_PARAM;
    record.hItem = item;
    SendMessageW(tree, TVM_GETITEMW, 0, LPARAM(&record));
    return record.lParam;
}

bool Expanded(HWND tree, HTREEITEM item)
{
    return (TreeView_GetItemState(tree, item, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
}

std::wstring Str(const WCHAR *s) { return s ? std::wstring(s) : std::wstring(L"(none)"); }

}  // namespace pages

