// dummywizard.cpp -- a stand-in with the windows of the setup program (a
// frame, pages from the same templates with their control ids, an HTML panel
// class, message boxes) that the robot's own tests drive.  It has no package
// and none of the setup program's rules beyond walking the set page bits.
//
// Command line: FLAGS (decimal page bits), or "box error|information|question"
// to show one message box without owner and exit with the button's id.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

#include "pagetable.h"

#define DTM_ADDTEXTW (WM_USER + 102)
#define DTM_ENDOFSOURCE (WM_USER + 104)
#define NM_HOTSPOT (WM_USER + 101)

namespace {

struct HotspotNotify {
    NMHDR hdr;
    LPCWSTR target;
    LPCWSTR data;
    LPARAM lParam;
};


HINSTANCE Instance;
HWND Frame;
HWND Pages[6];
int Flags;
int Current = -1;

int First() { for (int i = 0; i < 6; ++i) if (Flags & (1 << i)) return i; return -1; }
int Last() { for (int i = 5; i >= 0; --i) if (Flags & (1 << i)) return i; return -1; }

LRESULT CALLBACK HtmlView(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case DTM_ADDTEXTW: {
        int n = GetWindowTextLengthW(w);
        std::wstring text(size_t(n) + 1, L'\0');
        GetWindowTextW(w, text.data(), n + 1);
        text.resize(size_t(n));
        text += reinterpret_cast<LPCWSTR>(lp);
        return DefWindowProcW(w, WM_SETTEXT, 0, LPARAM(text.c_str()));
    }
    case DTM_ENDOFSOURCE:
        InvalidateRect(w, nullptr, TRUE);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(w, &ps);
        RECT r;
        GetClientRect(w, &r);
        wchar_t text[512];
        GetWindowTextW(w, text, 512);
        DrawTextW(dc, text, -1, &r, DT_WORDBREAK);
        EndPaint(w, &ps);
        return 0;
    }
    case WM_LBUTTONUP: {
        HotspotNotify n = {};
        n.hdr.hwndFrom = w;
        n.hdr.idFrom = UINT_PTR(GetDlgCtrlID(w));
        n.hdr.code = NM_HOTSPOT;
        wchar_t target[64];
        swprintf(target, 64, L"http://velkor.test/dummy?x=%d&y=%d", int(short(LOWORD(lp))), int(short(HIWORD(lp))));
        n.target = target;
        SendMessageW(GetParent(w), WM_NOTIFY, n.hdr.idFrom, LPARAM(&n));
        return 0;
    }
    }
    return DefWindowProcW(w, m, wp, lp);
}

void Show(int index);

void Step(int direction)
{
    ShowWindow(Pages[Current], SW_HIDE);
    int i = Current + direction;
    while (i >= 0 && i < 6 && !(Flags & (1 << i)))
        i += direction;
    if (i < 0 || i >= 6) {
        PostQuitMessage(0);
        return;
    }
    Show(i);
}

void InitPage(HWND page, int index)
{
    SetWindowLongPtrW(page, GWLP_ID, PageTemplates[index].Template);
    SetDlgItemTextW(page, IDOK, index == Last() ? L"&Install" : L"&Next >");
    SetDlgItemTextW(page, IDCANCEL, L"&Cancel");
    SetDlgItemTextW(page, IDC_BACK, L"< &Back");
    EnableWindow(GetDlgItem(page, IDC_BACK), index != First());
    if (HWND html = GetDlgItem(page, IDC_HTML)) {
        wchar_t body[64];
        swprintf(body, 64, L"Dummy page %d", PageTemplates[index].Template);
        SendMessageW(html, WM_SETTEXT, 0, LPARAM(L""));
        SendMessageW(html, DTM_ADDTEXTW, FALSE, LPARAM(L"<body>"));
        SendMessageW(html, DTM_ADDTEXTW, FALSE, LPARAM(body));
        SendMessageW(html, DTM_ENDOFSOURCE, 0, 0);
    }
    if (HWND tree = GetDlgItem(page, IDC_COMPONENT_TREE)) {
        // Without a state image list of its own, a check-box tree resets
        // every box to empty at its first paint.
        HIMAGELIST images =
            ImageList_LoadImageW(Instance, MAKEINTRESOURCEW(IDB_STATEIMAGES), 16, 3, RGB(255, 255, 255), IMAGE_BITMAP, 0);
        if (images)
            SendMessageW(tree, TVM_SETIMAGELIST, TVSIL_STATE, LPARAM(images));
        const wchar_t *names[] = {L"Beta", L"Alpha"};
        for (int i = 0; i < 2; ++i) {
            TVINSERTSTRUCTW insert = {};
            insert.hInsertAfter = TVI_SORT;
            insert.item.mask = TVIF_TEXT | TVIF_STATE;
            insert.item.pszText = const_cast<LPWSTR>(names[i]);
            insert.item.state = INDEXTOSTATEIMAGEMASK(i == 0 ? 2 : 1);
            insert.item.stateMask = TVIS_STATEIMAGEMASK;
            SendMessageW(tree, TVM_INSERTITEMW, 0, LPARAM(&insert));
        }
    }
    if (HWND tree = GetDlgItem(page, IDC_FOLDER_TREE)) {
        TVINSERTSTRUCTW insert = {};
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT;
        insert.item.pszText = const_cast<LPWSTR>(L"\\");
        HTREEITEM root = HTREEITEM(SendMessageW(tree, TVM_INSERTITEMW, 0, LPARAM(&insert)));
        insert.hParent = root;
        insert.item.pszText = const_cast<LPWSTR>(L"Program Files");
        HTREEITEM programs = HTREEITEM(SendMessageW(tree, TVM_INSERTITEMW, 0, LPARAM(&insert)));
        insert.item.pszText = const_cast<LPWSTR>(L"Windows");
        SendMessageW(tree, TVM_INSERTITEMW, 0, LPARAM(&insert));
        insert.hParent = programs;
        insert.item.pszText = const_cast<LPWSTR>(L"Tool");
        SendMessageW(tree, TVM_INSERTITEMW, 0, LPARAM(&insert));
        SetDlgItemTextW(page, IDC_DESTINATION, L"\\Program Files\\Tool");
    }
}

bool AnyTicked(HWND tree)
{
    for (HTREEITEM i = TreeView_GetRoot(tree); i; i = TreeView_GetNextSibling(tree, i))
        if (TreeView_GetCheckState(tree, i) == 1)
            return true;
    return false;
}

INT_PTR CALLBACK PageProcedure(HWND page, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case WM_INITDIALOG:
        InitPage(page, int(lp));
        return TRUE;
    case WM_NOTIFY: {
        NMHDR *n = reinterpret_cast<NMHDR *>(lp);
        if (n->code == NM_HOTSPOT) {
            SHELLEXECUTEINFOW info = {};
            info.cbSize = sizeof info;
            info.lpFile = reinterpret_cast<HotspotNotify *>(lp)->target;
            ShellExecuteExW(&info);
            return TRUE;
        }
        if (n->code == TVN_SELCHANGEDW && n->idFrom == IDC_FOLDER_TREE) {
            NMTREEVIEWW *t = reinterpret_cast<NMTREEVIEWW *>(lp);
            wchar_t text[MAX_PATH] = {};
            TVITEMW item = {};
            item.mask = TVIF_TEXT;
            item.hItem = t->itemNew.hItem;
            item.pszText = text;
            item.cchTextMax = MAX_PATH;
            TreeView_GetItem(n->hwndFrom, &item);
            SetDlgItemTextW(page, IDC_DESTINATION, text);
        }
        return FALSE;
    }
    case WM_COMMAND:
        if (HIWORD(wp) != 0)
            return FALSE;
        switch (LOWORD(wp)) {
        case IDOK:
            if (HWND tree = GetDlgItem(page, IDC_COMPONENT_TREE)) {
                if (!AnyTicked(tree)) {
                    MessageBoxW(page, L"Nothing is ticked.", L"Dummy", MB_OK | MB_ICONINFORMATION);
                    return FALSE;
                }
            }
            Step(+1);
            break;
        case IDC_BACK:
            Step(-1);
            break;
        case IDCANCEL:
            PostQuitMessage(0);
            break;
        }
        return FALSE;
    }
    return FALSE;
}

void Show(int index)
{
    Current = index;
    if (!Pages[index]) {
        HRSRC r = FindResourceW(Instance, MAKEINTRESOURCEW(PageTemplates[index].Template), MAKEINTRESOURCEW(5));
        auto t = static_cast<LPCDLGTEMPLATEW>(LoadResource(Instance, r));
        Pages[index] = CreateDialogIndirectParamW(Instance, t, Frame, PageProcedure, index);
    }
    RECT r;
    GetClientRect(Frame, &r);
    SetWindowPos(Pages[index], HWND_TOP, 0, 0, r.right, r.bottom, SWP_SHOWWINDOW);

}

INT_PTR CALLBACK FrameProcedure(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int)
{
    Instance = instance;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    if (wcsncmp(commandLine, L"box ", 4) == 0) {
        std::wstring kind = commandLine + 4;
        UINT style = kind == L"question" ? MB_YESNO | MB_ICONQUESTION
                     : kind == L"information" ? MB_OK | MB_ICONINFORMATION
                     : kind == L"none" ? MB_OK
                                        : MB_OK | MB_ICONHAND;
        return MessageBoxW(nullptr, (L"A box of kind " + kind + L".").c_str(), L"Velkor", style);
    }
    Flags = _wtoi(commandLine) & 63;

    WNDCLASSW html = {};
    html.lpfnWndProc = HtmlView;
    html.hInstance = instance;
    html.lpszClassName = L"DISPLAYCLASS";
    html.hbrBackground = HBRUSH(COLOR_WINDOW + 1);
    html.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    RegisterClassW(&html);

    HRSRC r = FindResourceW(instance, MAKEINTRESOURCEW(IDD_FRAME), MAKEINTRESOURCEW(5));
    Frame = CreateDialogIndirectParamW(instance, static_cast<LPCDLGTEMPLATEW>(LoadResource(instance, r)), nullptr,
                                       FrameProcedure, 0);
    SetWindowTextW(Frame, L"Dummy Setup");
    SetWindowPos(Frame, nullptr, 0, 0, 246, 294, SWP_NOZORDER);
    if (First() < 0)
        return 0;
    Show(First());
    ShowWindow(Frame, SW_SHOW);
    UpdateWindow(Frame);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_CLOSE && msg.hwnd == Frame)
            break;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
