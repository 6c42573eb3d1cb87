/*
 * htmlview_demo.cpp -- a page-sized dialog that feeds our HTML view the way
 * the setup pages do (empty it, four pieces, end of source), to look at it
 * and to check its window behaviour under Wine.  Not part of setup.exe.
 *
 *   htmlview_demo [sample] [/file page.html] [/open] [/quit ms]   show sample 1..7
 *   htmlview_demo /check result.txt                    scripted checks; exit code = failures
 */
#include "platform.h"
#include "desktop.h"

#include <shellapi.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <string>

#define IDD_DEMO 101
#define IDC_PANEL 1007
#define IDC_SMALL_PANEL 1008
#define IDC_RADIO_DEFAULT 1009
#define IDC_RADIO_CHOOSE 1010
#define IDC_BACK 1002

struct Sample {
    const WCHAR *title;
    bool small;
    bool plain;                  /* the page text goes in as a plain-text piece */
    const WCHAR *text;
};

static const Sample Samples[] = {
    {L"Welcome", false, false,
     L"<p><b>Welcome to the Velkor Demo 2.1 Setup Wizard</b></p>"
     L"<p>This wizard will install Velkor Demo 2.1 on your device.</p>\r\n"
     L"<p>It is recommended that you close all other applications before "
     L"continuing. Tap Next to continue, or Cancel to exit Setup.</p>"},
    {L"Formatting", false, false,
     L"<h1>Heading 1</h1><h3>Heading 3</h3>"
     L"<p>Plain, <b>bold</b>, <i>italic</i>, <u>underlined</u>, <s>struck</s>, "
     L"<b><i>bold italic</i></b> and <tt>code</tt>. A <a href=\"http://www.example.com/velkor\">link "
     L"that wraps</a> onto the next line.</p>"
     L"<p><font color=\"#c00000\">Red</font>, <font color=green size=+1>green +1</font>, "
     L"<font size=1>size 1</font>, <font size=5>size 5</font>, "
     L"<font face=\"Courier New\">Courier</font>.</p>"
     L"<center>Centred &amp; &lt;escaped&gt; &copy; 2024 &mdash; &euro;5 &#233;t&#xE9;</center>"},
    {L"Lists", false, false,
     L"<ul><li>Bullet one<li>Bullet two, long enough to wrap under itself"
     L"<ul><li>Nested</ul></ul>"
     L"<ol start=3><li>Third<li>Fourth</ol><hr>"
     L"<blockquote>Quoted text</blockquote><pre>pre  formatted\n  text</pre>"},
    {L"Long text", false, false,
     L"<p><b>License Agreement</b></p>"
     L"<p>Please read the following license agreement carefully. By installing "
     L"this software you agree to the terms below.</p>"
     L"<p>1. The software is provided as is, without warranty of any kind.</p>"
     L"<p>2. You may install the software on any number of devices that you own.</p>"
     L"<p>3. You may not sell, rent or lease the software.</p>"
     L"<p>4. The author is not liable for any damage arising from its use.</p>"
     L"<p>5. This agreement ends when you remove the software.</p>"
     L"<p><i>End of agreement.</i></p>"},
    {L"Small panel", true, false,
     L"Choose where to install <b>Velkor Demo</b>. The default location is "
     L"<i>\\Program Files\\Velkor Demo</i> in main memory; another location may be a storage card."},
    {L"Plain text piece", false, true,
     L"Plain text keeps <tags> & entities like &amp; as written.\r\nSecond line.\nThird line."},
    {L"Coloured body", false, false,
     L"<body bgcolor=\"#ffffe0\" text=\"#000080\" link=\"#800080\"><p><b>Body colours</b></p>"
     L"<p>The panel's own body tag came first, so its background stays; the text "
     L"and link colours come from this one: <a href=\"readme.txt\">a link</a>.</p>"},
};
static const int SampleCount = (int)(sizeof Samples / sizeof Samples[0]);

static HINSTANCE Instance;
static HWND Dialog;
static HWND MenuBar;
static int Current;
static WCHAR BackgroundColor[8];
static std::wstring Header = L"";
static std::wstring FileText;
static bool OpenLinks;

/* Hotspot notifications seen, for the checks. */
static int HotspotCount;
static UINT_PTR HotspotId;
static HWND HotspotFrom;
static std::wstring HotspotTarget;

static void FormatColor(WCHAR *out, COLORREF c)
{
    swprintf(out, 8, L"#%.2x%.2x%.2x", GetRValue(c), GetGValue(c), GetBValue(c));
}

/* What FillHtmlPanel does: empty, the body start tag in three pieces, the
 * text, end of source. */
static void FillPanel(HWND panel, const WCHAR *text, bool plain)
{
    SendMessageW(panel, WM_SETTEXT, 0, (LPARAM)L"");
    SendMessageW(panel, DTM_ADDTEXTW, FALSE, (LPARAM)L"<body topmargin=\"0\" leftmargin=\"0\" bgcolor=\"");
    SendMessageW(panel, DTM_ADDTEXTW, FALSE, (LPARAM)BackgroundColor);
    SendMessageW(panel, DTM_ADDTEXTW, FALSE, (LPARAM)L"\">");
    SendMessageW(panel, DTM_ADDTEXTW, plain ? TRUE : FALSE, (LPARAM)text);
    SendMessageW(panel, DTM_ENDOFSOURCE, 0, 0);
}

static void ShowSample(int index)
{
    Current = (index % (SampleCount + 1) + SampleCount + 1) % (SampleCount + 1);
    bool custom = Current == SampleCount;
    if (custom && FileText.empty())
        Current = 0, custom = false;
    const Sample &s = Samples[custom ? 0 : Current];
    bool small = !custom && s.small;
    HWND big = GetDlgItem(Dialog, IDC_PANEL), little = GetDlgItem(Dialog, IDC_SMALL_PANEL);
    ShowWindow(big, small ? SW_HIDE : SW_SHOW);
    ShowWindow(little, small ? SW_SHOW : SW_HIDE);
    ShowWindow(GetDlgItem(Dialog, IDC_RADIO_DEFAULT), small ? SW_SHOW : SW_HIDE);
    ShowWindow(GetDlgItem(Dialog, IDC_RADIO_CHOOSE), small ? SW_SHOW : SW_HIDE);
    FillPanel(small ? little : big, custom ? FileText.c_str() : s.text, !custom && s.plain);
    WCHAR title[64];
    swprintf(title, 64, L"%d. %ls", Current + 1, custom ? L"File" : s.title);
    Header = title;
    InvalidateRect(Dialog, NULL, TRUE);
}

static void PaintHeader(HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT rc;
    GetClientRect(window, &rc);
    rc.left = 8;
    rc.bottom = 24;
    LOGFONTW lf;
    HFONT font = (HFONT)SendMessageW(window, WM_GETFONT, 0, 0);
    if (font && GetObjectW(font, sizeof lf, &lf)) {
        lf.lfWeight = FW_BOLD;
        HFONT bold = CreateFontIndirectW(&lf);
        HGDIOBJ old = SelectObject(dc, bold);
        SetTextColor(dc, RGB(0, 0, 156));
        SetBkMode(dc, TRANSPARENT);
        DrawTextW(dc, Header.c_str(), -1, &rc, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
        SelectObject(dc, old);
        DeleteObject(bold);
    }
    MoveToEx(dc, 0, 24, NULL);
    LineTo(dc, rc.right, 24);
    EndPaint(window, &ps);
}

static INT_PTR CALLBACK DemoProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        Dialog = window;
        CheckRadioButton(window, IDC_RADIO_DEFAULT, IDC_RADIO_CHOOSE, IDC_RADIO_DEFAULT);
        return TRUE;
    case WM_PAINT:
        PaintHeader(window);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: ShowSample(Current + 1); return TRUE;
        case IDC_BACK: ShowSample(Current - 1); return TRUE;
        case IDCANCEL: PostQuitMessage(0); return TRUE;
        }
        return FALSE;
    case WM_NOTIFY: {
        NMHDR *hdr = (NMHDR *)lParam;
        if (hdr->code != NM_HOTSPOT)
            return FALSE;
        HtmlViewNotify *nm = (HtmlViewNotify *)lParam;
        ++HotspotCount;
        HotspotId = hdr->idFrom;
        HotspotFrom = hdr->hwndFrom;
        HotspotTarget = nm->szTarget ? nm->szTarget : L"(null)";
        Header = L"Link: " + HotspotTarget;
        InvalidateRect(window, NULL, TRUE);
        if (OpenLinks)
            PlatformOpenLink(nm->szTarget);
        SetWindowLongPtrW(window, DWLP_MSGRESULT, TRUE);
        return TRUE;
    }
    case WM_CLOSE:
    case WM_TIMER:
        PostQuitMessage(0);
        return TRUE;
    }
    return FALSE;
}

static void Pump(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    MSG msg;
    do {
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    } while (GetTickCount() - start < milliseconds);
}

/* ---- scripted checks ---- */

static FILE *Report;
static int Failures;

static void Check(bool ok, const char *what)
{
    fprintf(Report, "%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok)
        ++Failures;
}

static std::wstring PanelText(HWND panel)
{
    int n = (int)SendMessageW(panel, WM_GETTEXTLENGTH, 0, 0);
    std::wstring s((size_t)n + 1, L'\0');
    int got = (int)SendMessageW(panel, WM_GETTEXT, (WPARAM)n + 1, (LPARAM)&s[0]);
    s.resize((size_t)(got >= 0 ? got : 0));
    return s;
}

static bool HasBar(HWND panel) { return (GetWindowLongW(panel, GWL_STYLE) & WS_VSCROLL) != 0; }

static SCROLLINFO Scroll(HWND panel)
{
    SCROLLINFO si = {};
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL;
    GetScrollInfo(panel, SB_VERT, &si);
    return si;
}

static void Tap(HWND panel, int x, int y, int upX, int upY)
{
    SendMessageW(panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(panel, WM_LBUTTONUP, 0, MAKELPARAM(upX, upY));
}

static int RunChecks(const WCHAR *reportPath)
{
    Report = _wfopen(reportPath, L"w");
    if (!Report)
        return 100;
    Check(PlatformInitHtmlControl(Instance) && PlatformInitHtmlControl(Instance),
          "InitHtmlControl twice");

    RECT rc, outer, bar;
    GetClientRect(Dialog, &rc);
    Check(rc.right == 240 && rc.bottom == 268, "client area 240 x 268");
    GetWindowRect(Dialog, &outer);
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    Check(outer.left == work.left && outer.top == work.top, "frame at the top-left of the screen");
    Check(MenuBar && IsWindow(MenuBar), "menu bar created");
    GetWindowRect(MenuBar, &bar);
    Check(bar.right - bar.left == 240 && bar.bottom - bar.top == 26, "menu bar 240 x 26");
    Check(bar.top == outer.bottom, "menu bar right below the frame");
    Check(GetWindow(MenuBar, GW_OWNER) == Dialog, "menu bar owned by the frame");

    HWND panel = GetDlgItem(Dialog, IDC_PANEL);
    HWND little = GetDlgItem(Dialog, IDC_SMALL_PANEL);
    HFONT dialogFont = (HFONT)SendMessageW(Dialog, WM_GETFONT, 0, 0);
    Check(dialogFont && (HFONT)SendMessageW(panel, WM_GETFONT, 0, 0) == dialogFont,
          "panel has the dialog font");

    FillPanel(panel, Samples[0].text, false);
    std::wstring expected = std::wstring(L"<body topmargin=\"0\" leftmargin=\"0\" bgcolor=\"") +
                            BackgroundColor + L"\">" + Samples[0].text;
    Check(PanelText(panel) == expected, "WM_GETTEXT gives the joined pieces");
    Check(GetWindowTextLengthW(panel) == (int)expected.size(), "WM_GETTEXTLENGTH");
    WCHAR small[8];
    wmemset(small, L'x', 8);
    LRESULT got = SendMessageW(panel, WM_GETTEXT, 5, (LPARAM)small);
    Check(got == 4 && wcscmp(small, L"<bod") == 0 && small[5] == L'x', "WM_GETTEXT truncates and terminates");
    Check(!HasBar(panel), "short text: no scroll bar");

    FillPanel(panel, Samples[3].text, false);
    Pump(50);
    Check(HasBar(panel), "long text: scroll bar added");
    SCROLLINFO si = Scroll(panel);
    Check(si.nMax + 1 > (int)si.nPage && si.nPos == 0, "scroll range covers the text");
    SendMessageW(panel, WM_VSCROLL, SB_PAGEDOWN, 0);
    int afterPage = Scroll(panel).nPos;
    Check(afterPage > 0, "page down scrolls");
    SendMessageW(panel, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), 0);
    Check(Scroll(panel).nPos < afterPage, "wheel up scrolls back");
    SendMessageW(panel, WM_VSCROLL, SB_BOTTOM, 0);
    si = Scroll(panel);
    Check(si.nPos == si.nMax + 1 - (int)si.nPage, "bottom shows the last line");
    SendMessageW(panel, WM_VSCROLL, SB_LINEDOWN, 0);
    Check(Scroll(panel).nPos == si.nPos, "no scrolling past the end");

    SendMessageW(panel, WM_SETTEXT, 0, (LPARAM)L"");
    Check(GetWindowTextLengthW(panel) == 0 && !HasBar(panel), "empty text clears and drops the bar");

    FillPanel(little, Samples[4].text, false);
    Check(!HasBar(little), "small panel: four lines fit");
    FillPanel(little, L"<p>One</p><p>Two</p><p>Three</p>", false);
    Check(HasBar(little), "small panel: five lines scroll");

    /* Plain pieces are escaped into the document. */
    SendMessageW(panel, WM_SETTEXT, 0, (LPARAM)L"");
    SendMessageW(panel, DTM_ADDTEXTW, TRUE, (LPARAM)L"a<b>&\r\nc");
    SendMessageW(panel, DTM_ENDOFSOURCE, 0, 0);
    Check(PanelText(panel) == L"a&lt;b&gt;&amp;<br>c", "plain piece escaped");
    Check(SendMessageW(panel, DTM_ADDTEXTW, FALSE, 0) == FALSE, "NULL piece refused");

    /* Links. */
    FillPanel(panel, L"Text <a href=\"http://example.com/a?b=1&amp;c=2\">first link</a> and "
                     L"<a href=\"file2.txt\">second</a>.", false);
    RECT link;
    BOOL found = (BOOL)SendMessageW(panel, HVM_GETLINKRECT, 1, (LPARAM)&link);
    Check(found && link.right > link.left, "link rectangle");
    int cx = (link.left + link.right) / 2, cy = (link.top + link.bottom) / 2;
    HotspotCount = 0;
    Tap(panel, cx, cy, cx, cy);
    Check(HotspotCount == 1 && HotspotTarget == L"file2.txt", "tap on a link notifies its target");
    Check(HotspotId == IDC_PANEL && HotspotFrom == panel, "notification names the control");
    SendMessageW(panel, HVM_GETLINKRECT, 0, (LPARAM)&link);
    Tap(panel, link.left + 1, link.top + 1, link.left + 1, link.top + 1);
    Check(HotspotCount == 2 && HotspotTarget == L"http://example.com/a?b=1&c=2", "entities decoded in targets");
    Tap(panel, cx, cy, 1, 200);
    Check(HotspotCount == 2, "release away from the link: nothing");
    SendMessageW(panel, WM_LBUTTONUP, 0, MAKELPARAM(cx, cy));
    Check(HotspotCount == 2, "release without press: nothing");
    Tap(panel, 1, 200, cx, cy);
    Check(HotspotCount == 2, "press outside, release on the link: nothing");
    Check(!SendMessageW(panel, HVM_GETLINKRECT, 7, (LPARAM)&link), "no eighth link");

    /* Font changes lay the text out again. */
    LOGFONTW lf;
    GetObjectW(dialogFont, sizeof lf, &lf);
    lf.lfHeight *= 3;
    HFONT large = CreateFontIndirectW(&lf);
    FillPanel(panel, Samples[0].text, false);
    Check(!HasBar(panel), "normal font fits");
    SendMessageW(panel, WM_SETFONT, (WPARAM)large, TRUE);
    Check((HFONT)SendMessageW(panel, WM_GETFONT, 0, 0) == large, "WM_GETFONT returns the new font");
    Check(HasBar(panel), "three times the font needs the bar");
    SendMessageW(panel, WM_SETFONT, (WPARAM)dialogFont, TRUE);
    DeleteObject(large);

    /* Hostile documents must not hang the window (the caller's time limit
     * catches a hang; the times are only reported) and must still show. */
    std::wstring big;
    while (big.size() < (1u << 20))
        big += L"<b>x <a href=y>&amp; <p><li><font size=+9>zz</font>";
    DWORD start = GetTickCount();
    FillPanel(panel, big.c_str(), false);
    Pump(10);
    DWORD spent = GetTickCount() - start;
    fprintf(Report, "     1 MiB document: %lu ms\n", (unsigned long)spent);
    Check(HasBar(panel) && GetWindowTextLengthW(panel) > (int)big.size(), "1 MiB document shown");
    std::wstring word(1u << 20, L'w');
    start = GetTickCount();
    FillPanel(panel, word.c_str(), false);
    Pump(10);
    spent = GetTickCount() - start;
    fprintf(Report, "     1 MiB word: %lu ms\n", (unsigned long)spent);
    Check(GetWindowTextLengthW(panel) > (int)word.size(), "1 MiB word shown");

    fclose(Report);
    return Failures;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    Instance = instance;
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    int first = 0;
    const WCHAR *checkReport = NULL;
    UINT quitAfter = 0;
    for (int i = 1; argv && i < argc; ++i) {
        if (_wcsicmp(argv[i], L"/check") == 0 && i + 1 < argc) {
            checkReport = argv[++i];
        } else if (_wcsicmp(argv[i], L"/quit") == 0 && i + 1 < argc) {
            quitAfter = (UINT)_wtoi(argv[++i]);
        } else if (_wcsicmp(argv[i], L"/open") == 0) {
            OpenLinks = true;
        } else if (_wcsicmp(argv[i], L"/file") == 0 && i + 1 < argc) {
            FILE *f = _wfopen(argv[++i], L"rb");
            if (f) {
                std::string bytes;
                char chunk[4096];
                size_t n;
                while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
                    bytes.append(chunk, n);
                fclose(f);
                int wide = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), NULL, 0);
                FileText.assign((size_t)wide, L'\0');
                MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), &FileText[0], wide);
                first = SampleCount;
            }
        } else {
            first = _wtoi(argv[i]) - 1;
        }
    }
    FormatColor(BackgroundColor, GetSysColor(COLOR_BTNFACE));
    PlatformInitHtmlControl(instance);
    HWND dialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_DEMO), NULL, DemoProcedure, 0);
    if (!dialog)
        return 99;
    PlatformSizeDialogToWorkArea(dialog);
    MenuBar = PlatformCreateEmptyMenuBar(dialog);
    ShowSample(first);
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    int result = 0;
    if (checkReport) {
        Pump(200);
        result = RunChecks(checkReport);
    } else {
        if (quitAfter)
            SetTimer(dialog, 1, quitAfter, NULL);
        MSG msg;
        while (GetMessageW(&msg, NULL, 0, 0) > 0) {
            if (!IsDialogMessageW(dialog, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
    }
    if (MenuBar)
        DestroyWindow(MenuBar);
    DestroyWindow(dialog);
    LocalFree(argv);
    return result;
}
