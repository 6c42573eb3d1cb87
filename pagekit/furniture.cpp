/*
 * furniture.cpp -- what every page shares: the bold title header, the
 * navigation buttons' captions, the HTML panel and tapped links.
 */
#include "pagekit.h"
#include "platform.h"
#include "pageflow.h"

#define HEADER_LEFT      8
#define HEADER_BOTTOM    24
#define HEADER_TEXT_COLOR RGB(0, 0, 156)

WCHAR BackgroundColorText[8];

/* Two lower-case hexadecimal digits.  Written out by hand: the device's C
 * library has only the swprintf without a buffer size. */
static void PutHexByte(WCHAR *destination, unsigned value)
{
    static const WCHAR digits[] = L"0123456789abcdef";
    destination[0] = digits[(value >> 4) & 15];
    destination[1] = digits[value & 15];
}

void FormatHtmlColor(WCHAR *destination, COLORREF color)
{
    destination[0] = L'#';
    PutHexByte(destination + 1, GetRValue(color));
    PutHexByte(destination + 3, GetGValue(color));
    PutHexByte(destination + 5, GetBValue(color));
    destination[7] = L'\0';
}

void DrawPageHeader(HWND window, HDC dc, const WCHAR *text)
{
    RECT rect;
    LOGFONTW description;
    GetClientRect(window, &rect);
    int width = rect.right;
    rect.left = HEADER_LEFT;
    rect.top = 0;
    rect.bottom = HEADER_BOTTOM;

    HGDIOBJ originalFont = PlatformSelectPageFont(window, dc);

    HGDIOBJ current = GetCurrentObject(dc, OBJ_FONT);
    if (current && GetObjectW(current, sizeof description, &description) != 0) {
        description.lfWeight = FW_BOLD;
        HFONT bold = CreateFontIndirectW(&description);
        HGDIOBJ previousFont = SelectObject(dc, bold);
        SetTextColor(dc, HEADER_TEXT_COLOR);
        COLORREF previousBack = SetBkColor(dc, GetSysColor(COLOR_STATIC));
        DrawTextW(dc, text, -1, &rect, DT_SINGLELINE | DT_VCENTER);
        SelectObject(dc, previousFont);
        SetBkColor(dc, previousBack);

        HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
        HGDIOBJ previousPen = SelectObject(dc, pen);
        POINT line[2] = {{0, HEADER_BOTTOM}, {width, HEADER_BOTTOM}};
        Polyline(dc, line, 2);
        SelectObject(dc, previousPen);
        DeleteObject(bold);
        DeleteObject(pen);
    }

    if (originalFont)
        SelectObject(dc, originalFont);
}

void PaintPageHeader(HWND page, int textIndex)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(page, &paint);
    DrawPageHeader(page, dc, PackageText(textIndex));
    EndPaint(page, &paint);
}

void LabelOkButton(HWND page, int flag)
{
    BOOL installs = OkInstalls(Package.PageFlags, Package.UseDefaultLocation, (uint8_t)flag);
    SetDlgItemTextW(page, IDOK, PackageText(installs ? TextInstallButton : TextNextButton));
}

void LabelNavigationButtons(HWND page, int flag)
{
    SetDlgItemTextW(page, IDCANCEL, PackageText(TextCancelButton));
    LabelOkButton(page, flag);
    HWND back = GetDlgItem(page, IDC_BACK);
    SetWindowTextW(back, PackageText(TextBackButton));
    EnableWindow(back, flag != LowestPage(Package.PageFlags));
}

void FillHtmlPanel(HWND panel, int textIndex)
{
    static const WCHAR bodyStart[] = L"<body topmargin=\"0\" leftmargin=\"0\" bgcolor=\"";
    SendMessageW(panel, WM_SETTEXT, 0, (LPARAM)L"");
    SendMessageW(panel, DTM_ADDTEXTW, FALSE, (LPARAM)bodyStart);
    SendMessageW(panel, DTM_ADDTEXTW, FALSE, (LPARAM)BackgroundColorText);
    SendMessageW(panel, DTM_ADDTEXTW, FALSE, (LPARAM)L"\">");
    SendMessageW(panel, DTM_ADDTEXTW, FALSE, (LPARAM)PackageText(textIndex));
    SendMessageW(panel, DTM_ENDOFSOURCE, 0, 0);
}

BOOL HandleLinkNotify(HWND page, NMHDR *notification)
{
    if (notification->code != (UINT)NM_HOTSPOT)
        return FALSE;
    const HtmlViewNotify *link = (const HtmlViewNotify *)notification;
    PlatformOpenLink(link->szTarget);
    SetWindowLongPtrW(page, DWLP_MSGRESULT, TRUE);
    return TRUE;
}
