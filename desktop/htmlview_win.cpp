/*
 * htmlview_win.cpp -- the "DISPLAYCLASS" window: collects the document the
 * page sends in pieces, hands it to the portable parser and layout in
 * htmlview.cpp, and measures, draws, scrolls and reports link taps.  It
 * keeps no HTML knowledge of its own.
 */
#include "htmlviewer.h"
#include "htmlview.h"
#include "htmlview_win.h"
#include "desktop.h"

#include <new>
#include <stdexcept>
#include <string>
#include <unordered_map>

namespace {

/* HTML font sizes 1..7 as a share of the control's font (size 3). */
const int SizePercent[8] = {100, 63, 82, 100, 113, 150, 200, 300};
const size_t MaxCachedFonts = 64;
const COLORREF ActiveLinkColor = RGB(255, 0, 0);

COLORREF ToColorRef(uint32_t rgb)
{
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

struct HtmlView {
    HWND window = nullptr;
    std::u16string source;
    HtmlDocument document;
    HtmlLayout layout;
    HFONT font = nullptr;            /* the dialog's, not ours to delete */
    std::unordered_map<uint32_t, HFONT> fonts;
    int scrollY = 0;
    int lineHeight = 13;
    int wheelRemainder = 0;
    int pressedLink = -1;
    bool barShown = false;
    bool inLayout = false;

    ~HtmlView() { DropFonts(nullptr); }

    void DropFonts(HDC selectedInto)
    {
        if (selectedInto)
            SelectObject(selectedInto, GetStockObject(SYSTEM_FONT));
        for (auto &f : fonts)
            DeleteObject(f.second);
        fonts.clear();
    }

    HFONT FontFor(HDC dc, const HtmlStyle &style);
};

uint32_t FontKey(const HtmlStyle &s)
{
    return (uint32_t)s.flags | (uint32_t)s.size << 8 | (uint32_t)s.face << 16;
}

HFONT HtmlView::FontFor(HDC dc, const HtmlStyle &style)
{
    uint32_t key = FontKey(style);
    auto it = fonts.find(key);
    if (it != fonts.end())
        return it->second;
    if (fonts.size() >= MaxCachedFonts)
        DropFonts(dc);                   /* many faces and sizes: start over rather than grow */
    LOGFONTW lf;
    HGDIOBJ base = font ? (HGDIOBJ)font : GetStockObject(DEFAULT_GUI_FONT);
    if (GetObjectW(base, sizeof lf, &lf) != sizeof lf) {
        ZeroMemory(&lf, sizeof lf);
        lf.lfHeight = -11;
        lstrcpyW(lf.lfFaceName, L"Tahoma");
    }
    if (lf.lfHeight == 0)
        lf.lfHeight = -11;
    int size = style.size >= 1 && style.size <= 7 ? style.size : 3;
    lf.lfHeight = MulDiv(lf.lfHeight, SizePercent[size], 100);
    if (lf.lfHeight == 0)
        lf.lfHeight = -1;
    lf.lfWidth = 0;
    if (style.flags & HtmlBold)
        lf.lfWeight = FW_BOLD;
    if (style.flags & HtmlItalic)
        lf.lfItalic = TRUE;
    if (style.flags & HtmlUnderline)
        lf.lfUnderline = TRUE;
    if (style.flags & HtmlStrike)
        lf.lfStrikeOut = TRUE;
    if (style.face >= 1 && style.face <= document.faces.size()) {
        const std::u16string &face = document.faces[style.face - 1];
        size_t n = face.size() < LF_FACESIZE - 1 ? face.size() : LF_FACESIZE - 1;
        memcpy(lf.lfFaceName, face.data(), n * sizeof(WCHAR));
        lf.lfFaceName[n] = 0;
    } else if (style.flags & HtmlMonospace) {
        lstrcpyW(lf.lfFaceName, L"Courier New");
        lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    }
    HFONT made = CreateFontIndirectW(&lf);
    if (!made)
        return (HFONT)base;
    try {
        fonts.emplace(key, made);
    } catch (...) {
        DeleteObject(made);
        return (HFONT)base;
    }
    return made;
}

/* Measures with the view's fonts on the window's own device context: a
 * memory context can rasterise differently (monochrome, hinted), and its
 * widths then leave gaps or overlaps where styles meet on screen. */
class GdiMeasurer : public HtmlMeasurer {
public:
    GdiMeasurer(HtmlView *v) : view(v)
    {
        dc = GetDC(view->window);
        if (dc)
            original = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    }
    ~GdiMeasurer()
    {
        if (dc) {
            SelectObject(dc, original);
            ReleaseDC(view->window, dc);
        }
    }
    bool Ready() const { return dc != nullptr; }

    size_t FitPrefix(const HtmlStyle &style, const char16_t *text, size_t length, int room,
                     int *width) override
    {
        Select(style);
        int extents[HtmlFitWindow];
        if (length > HtmlFitWindow)
            length = HtmlFitWindow;
        INT fit = 0;
        SIZE size;
        if (!GetTextExtentExPointW(dc, reinterpret_cast<LPCWSTR>(text), (int)length, room > 0 ? room : 0,
                                   &fit, extents, &size))
            return HtmlMeasurer::FitPrefix(style, text, length, room, width);
        if (fit < 0 || (size_t)fit > length)
            fit = 0;
        *width = fit > 0 ? extents[fit - 1] : 0;
        return (size_t)fit;
    }

    HtmlFontMetrics Metrics(const HtmlStyle &style) override
    {
        Select(style);
        TEXTMETRICW tm;
        if (!GetTextMetricsW(dc, &tm))
            return HtmlFontMetrics{10, 3};
        return HtmlFontMetrics{tm.tmAscent, tm.tmDescent};
    }
    int TextWidth(const HtmlStyle &style, const char16_t *text, size_t length) override
    {
        Select(style);
        SIZE size;
        if (length > 0x7FFFFFF || !GetTextExtentPoint32W(dc, reinterpret_cast<LPCWSTR>(text), (int)length, &size))
            return 0;
        return size.cx;
    }

private:
    HtmlView *view;
    HDC dc = nullptr;
    HGDIOBJ original = nullptr;

    void Select(const HtmlStyle &style) { SelectObject(dc, view->FontFor(dc, style)); }
};

HtmlView *ViewOf(HWND window) { return reinterpret_cast<HtmlView *>(GetWindowLongPtrW(window, 0)); }

int ClientHeight(HWND window)
{
    RECT rc;
    GetClientRect(window, &rc);
    return rc.bottom - rc.top;
}

void UpdateScrollBar(HtmlView *view)
{
    int page = ClientHeight(view->window);
    int limit = view->layout.height > page ? view->layout.height - page : 0;
    if (view->scrollY > limit)
        view->scrollY = limit;
    if (view->scrollY < 0)
        view->scrollY = 0;
    if (!view->barShown)
        return;
    SCROLLINFO si = {};
    si.cbSize = sizeof si;
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    si.nMin = 0;
    si.nMax = view->layout.height > 0 ? view->layout.height - 1 : 0;
    si.nPage = (UINT)(page > 0 ? page : 0);
    si.nPos = view->scrollY;
    SetScrollInfo(view->window, SB_VERT, &si, TRUE);
}

void ShowBar(HtmlView *view, bool show)
{
    if (view->barShown == show)
        return;
    view->barShown = show;
    ShowScrollBar(view->window, SB_VERT, show);
}

/* Lays the document out for the current size, adding the scroll bar when
 * the text is taller than the control and taking it away when it is not. */
void Relayout(HtmlView *view)
{
    if (view->inLayout)
        return;
    view->inLayout = true;
    GdiMeasurer measurer(view);
    if (measurer.Ready()) {
        RECT rc;
        GetClientRect(view->window, &rc);
        int width = rc.right - rc.left;
        if (view->barShown)
            width += GetSystemMetrics(SM_CXVSCROLL);
        HtmlFontMetrics base = measurer.Metrics(HtmlStyle());
        view->lineHeight = base.ascent + base.descent > 0 ? base.ascent + base.descent : 13;
        if (!LayoutHtml(view->document, measurer, width, &view->layout))
            view->layout = HtmlLayout();
        if (view->layout.height > rc.bottom - rc.top) {
            if (!view->barShown) {
                ShowBar(view, true);
                GetClientRect(view->window, &rc);
                if (!LayoutHtml(view->document, measurer, rc.right - rc.left, &view->layout))
                    view->layout = HtmlLayout();
            }
        } else {
            ShowBar(view, false);
        }
    }
    UpdateScrollBar(view);
    view->inLayout = false;
    InvalidateRect(view->window, nullptr, FALSE);
}

void Reparse(HtmlView *view)
{
    view->pressedLink = -1;
    view->scrollY = 0;
    view->DropFonts(nullptr);            /* faces are numbered per document */
    if (!ParseHtml(view->source.data(), view->source.size(), &view->document))
        view->document = HtmlDocument(); /* out of memory: show nothing rather than fail */
    Relayout(view);
}

void ScrollTo(HtmlView *view, int y)
{
    int old = view->scrollY;
    view->scrollY = y;
    UpdateScrollBar(view);
    if (view->scrollY != old)
        InvalidateRect(view->window, nullptr, FALSE);
}

void OnVScroll(HtmlView *view, int code)
{
    int page = ClientHeight(view->window);
    int step = page - view->lineHeight > view->lineHeight ? page - view->lineHeight : view->lineHeight;
    SCROLLINFO si = {};
    switch (code) {
    case SB_LINEUP: ScrollTo(view, view->scrollY - view->lineHeight); break;
    case SB_LINEDOWN: ScrollTo(view, view->scrollY + view->lineHeight); break;
    case SB_PAGEUP: ScrollTo(view, view->scrollY - step); break;
    case SB_PAGEDOWN: ScrollTo(view, view->scrollY + step); break;
    case SB_TOP: ScrollTo(view, 0); break;
    case SB_BOTTOM: ScrollTo(view, view->layout.height); break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
        si.cbSize = sizeof si;
        si.fMask = SIF_TRACKPOS;
        if (GetScrollInfo(view->window, SB_VERT, &si))
            ScrollTo(view, si.nTrackPos);
        break;
    }
}

bool OnMouseWheel(HtmlView *view, int delta)
{
    if (!view->barShown)
        return false;
    UINT lines = 3;
    SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
    if (lines == 0)
        return true;
    int page = ClientHeight(view->window);
    view->wheelRemainder += delta;
    int notches = view->wheelRemainder / WHEEL_DELTA;
    view->wheelRemainder -= notches * WHEEL_DELTA;
    int distance = lines == WHEEL_PAGESCROLL ? page : (int)lines * view->lineHeight;
    ScrollTo(view, view->scrollY - notches * distance);
    return true;
}

/* Bullets are drawn as shapes: fonts differ in which of these glyphs they
 * have, and at 8 points the glyphs they do have come out as specks. */
bool DrawBullet(HDC dc, const HtmlView *view, const HtmlBox &box, int baseline, COLORREF color)
{
    if (!box.marker || box.length != 1)
        return false;
    char16_t c = view->document.text[box.start];
    if (c != 0x2022 && c != 0x25E6 && c != 0x25AA)
        return false;
    TEXTMETRICW tm;
    if (!GetTextMetricsW(dc, &tm))
        return false;
    int size = (tm.tmAscent - tm.tmInternalLeading) * 2 / 5;
    if (size < 3)
        size = 3;
    int right = box.x + box.width;
    int centre = baseline - (tm.tmAscent - tm.tmInternalLeading) / 3;
    RECT r = {right - size, centre - size / 2, right, centre - size / 2 + size};
    HPEN pen = CreatePen(PS_SOLID, 1, color);
    HBRUSH brush = CreateSolidBrush(color);
    HGDIOBJ oldPen = SelectObject(dc, pen ? (HGDIOBJ)pen : GetStockObject(BLACK_PEN));
    HGDIOBJ oldBrush = SelectObject(dc, c == 0x25E6 ? GetStockObject(NULL_BRUSH)
                                                     : (brush ? (HGDIOBJ)brush : GetStockObject(BLACK_BRUSH)));
    if (c == 0x25AA)
        Rectangle(dc, r.left, r.top, r.right, r.bottom);
    else
        Ellipse(dc, r.left, r.top, r.right + 1, r.bottom + 1);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    if (pen)
        DeleteObject(pen);
    if (brush)
        DeleteObject(brush);
    return true;
}

void Paint(HtmlView *view)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(view->window, &ps);
    if (!dc)
        return;
    RECT area = ps.rcPaint;
    int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0) {
        EndPaint(view->window, &ps);
        return;
    }
    /* Drawn off screen and copied, so scrolling does not flicker; without
     * the memory bitmap it draws straight to the window. */
    HDC target = CreateCompatibleDC(dc);
    HBITMAP bitmap = target ? CreateCompatibleBitmap(dc, width, height) : nullptr;
    HGDIOBJ oldBitmap = nullptr;
    POINT origin = {0, 0};
    if (bitmap) {
        oldBitmap = SelectObject(target, bitmap);
        SetViewportOrgEx(target, -area.left, -area.top, nullptr);
        origin.x = area.left;
        origin.y = area.top;
    } else {
        if (target)
            DeleteDC(target);
        target = dc;
    }
    const HtmlDocument &doc = view->document;
    COLORREF background = doc.hasBackground ? ToColorRef(doc.background) : GetSysColor(COLOR_WINDOW);
    HBRUSH brush = CreateSolidBrush(background);
    FillRect(target, &area, brush ? brush : (HBRUSH)GetStockObject(WHITE_BRUSH));
    if (brush)
        DeleteObject(brush);

    COLORREF textColor = doc.textColor != HtmlDefaultColor ? ToColorRef(doc.textColor)
                                                          : GetSysColor(COLOR_WINDOWTEXT);
    SetBkMode(target, TRANSPARENT);
    SetTextAlign(target, TA_BASELINE | TA_LEFT | TA_NOUPDATECP);
    HGDIOBJ oldFont = SelectObject(target, GetStockObject(DEFAULT_GUI_FONT));
    const HtmlLayout &layout = view->layout;
    int top = area.top + view->scrollY, bottom = area.bottom + view->scrollY;
    for (size_t i = HtmlFirstLineBelow(layout, top); i < layout.lines.size(); ++i) {
        const HtmlLine &line = layout.lines[i];
        if (line.top >= bottom)
            break;
        for (uint32_t k = 0; k < line.boxCount; ++k) {
            const HtmlBox &box = layout.boxes[line.firstBox + k];
            const HtmlStyle &style = doc.styles[box.style];
            SelectObject(target, view->FontFor(target, style));
            COLORREF color = style.color != HtmlDefaultColor ? ToColorRef(style.color) : textColor;
            if (box.link >= 0 && box.link == view->pressedLink)
                color = ActiveLinkColor;
            SetTextColor(target, color);
            if (DrawBullet(target, view, box, box.baseline - view->scrollY, color))
                continue;
            ExtTextOutW(target, box.x, box.baseline - view->scrollY, 0, nullptr,
                        reinterpret_cast<LPCWSTR>(doc.text.data() + box.start), (UINT)box.length, nullptr);
        }
    }
    /* Rules: an etched line, as browsers draw <hr>. */
    HPEN shadow = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW));
    HPEN light = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNHIGHLIGHT));
    HGDIOBJ oldPen = SelectObject(target, shadow ? shadow : GetStockObject(BLACK_PEN));
    for (const HtmlRuleBox &rule : layout.rules) {
        int y = rule.y - view->scrollY;
        if (y + 1 < area.top || y > area.bottom)
            continue;
        SelectObject(target, shadow ? shadow : GetStockObject(BLACK_PEN));
        MoveToEx(target, rule.x, y, nullptr);
        LineTo(target, rule.x + rule.width, y);
        if (light) {
            SelectObject(target, light);
            MoveToEx(target, rule.x, y + 1, nullptr);
            LineTo(target, rule.x + rule.width, y + 1);
        }
    }
    SelectObject(target, oldPen);
    if (shadow)
        DeleteObject(shadow);
    if (light)
        DeleteObject(light);
    SelectObject(target, oldFont);

    if (bitmap) {
        SetViewportOrgEx(target, 0, 0, nullptr);
        BitBlt(dc, origin.x, origin.y, width, height, target, 0, 0, SRCCOPY);
        SelectObject(target, oldBitmap);
        DeleteObject(bitmap);
        DeleteDC(target);
    }
    EndPaint(view->window, &ps);
}

int LinkAtClientPoint(HtmlView *view, LPARAM lParam)
{
    int x = (short)LOWORD(lParam), y = (short)HIWORD(lParam);
    return HtmlLinkAt(view->layout, x, y + view->scrollY);
}

/* NM_HOTSPOT to the parent.  The parent may replace the document (or
 * destroy us) while it handles the notification, so the target is copied
 * first and the view is not touched afterwards. */
void NotifyHotspot(HWND window, const std::u16string &target)
{
    HWND parent = GetParent(window);
    if (!parent)
        return;
    HtmlViewNotify nm = {};
    nm.hdr.hwndFrom = window;
    nm.hdr.idFrom = (UINT_PTR)GetDlgCtrlID(window);
    nm.hdr.code = NM_HOTSPOT;
    nm.szTarget = reinterpret_cast<LPCWSTR>(target.c_str());
    nm.szData = L"";
    SendMessageW(parent, WM_NOTIFY, nm.hdr.idFrom, (LPARAM)&nm);
}

/* Calls visit(box, rect) for each box of the link on the lines in view,
 * rect being the box's rectangle in client coordinates (width + extra wide),
 * until visit returns TRUE; returns whether one did. */
template <typename Visit>
static BOOL VisitLinkBoxes(HtmlView *view, int link, int extra, Visit visit)
{
    RECT rc;
    GetClientRect(view->window, &rc);
    for (size_t i = HtmlFirstLineBelow(view->layout, view->scrollY); i < view->layout.lines.size(); ++i) {
        const HtmlLine &line = view->layout.lines[i];
        if (line.top - view->scrollY >= rc.bottom)
            break;
        for (uint32_t k = 0; k < line.boxCount; ++k) {
            const HtmlBox &b = view->layout.boxes[line.firstBox + k];
            if (b.link != link)
                continue;
            RECT r = {b.x, line.top - view->scrollY, b.x + b.width + extra, line.top + line.height - view->scrollY};
            if (visit(b, r, rc))
                return TRUE;
        }
    }
    return FALSE;
}

void InvalidateLink(HtmlView *view, int link)
{
    if (link < 0)
        return;
    VisitLinkBoxes(view, link, 1, [view](const HtmlBox &, const RECT &r, const RECT &) {
        InvalidateRect(view->window, &r, FALSE);
        return FALSE;
    });
}

BOOL LinkRect(HtmlView *view, int link, RECT *out)
{
    return VisitLinkBoxes(view, link, 0, [out](const HtmlBox &b, const RECT &r, const RECT &client) {
        RECT visible;
        if (b.width <= 0 || !IntersectRect(&visible, &r, &client))
            return FALSE;
        *out = visible;
        return TRUE;
    });
}

LRESULT OnText(HtmlView *view, UINT message, WPARAM wParam, LPARAM lParam)
{
    const WCHAR *text = reinterpret_cast<const WCHAR *>(lParam);
    try {
        switch (message) {
        case WM_SETTEXT:
            view->source.assign(text ? reinterpret_cast<const char16_t *>(text) : u"");
            if (view->source.size() > HTML_VIEW_MAX_SOURCE)
                view->source.clear();
            Reparse(view);
            return TRUE;
        case DTM_ADDTEXTW: {
            if (!text)
                return FALSE;
            const char16_t *piece = reinterpret_cast<const char16_t *>(text);
            size_t length = std::char_traits<char16_t>::length(piece);
            std::u16string escaped;
            if (wParam) {
                escaped = EscapePlainText(piece, length);
                piece = escaped.data();
                length = escaped.size();
            }
            if (length > HTML_VIEW_MAX_SOURCE - view->source.size())
                return FALSE;
            view->source.append(piece, length);
            return TRUE;
        }
        }
    } catch (const std::bad_alloc &) {
    } catch (const std::length_error &) {
    }
    return FALSE;
}

LRESULT OnGetText(HtmlView *view, WPARAM capacity, LPARAM lParam)
{
    WCHAR *buffer = reinterpret_cast<WCHAR *>(lParam);
    if (!buffer || capacity == 0)
        return 0;
    size_t n = view->source.size() < capacity - 1 ? view->source.size() : capacity - 1;
    memcpy(buffer, view->source.data(), n * sizeof(WCHAR));
    buffer[n] = 0;
    return (LRESULT)n;
}

LRESULT CALLBACK HtmlViewProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    HtmlView *view = ViewOf(window);
    if (!view && message != WM_NCCREATE)
        return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
    case WM_NCCREATE:
        view = new (std::nothrow) HtmlView;
        if (!view)
            return FALSE;
        view->window = window;
        SetWindowLongPtrW(window, 0, (LONG_PTR)view);
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_CREATE: {
        const CREATESTRUCTW *cs = reinterpret_cast<const CREATESTRUCTW *>(lParam);
        /* A template's control text is the first document; a resource
         * ordinal (0xFFFF, id) is not text. */
        if (cs->lpszName && !IS_INTRESOURCE(cs->lpszName) && cs->lpszName[0] != 0xFFFF && cs->lpszName[0])
            OnText(view, WM_SETTEXT, 0, (LPARAM)cs->lpszName);
        return 0;
    }
    case WM_NCDESTROY:
        SetWindowLongPtrW(window, 0, 0);
        delete view;
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_SETTEXT:
    case DTM_ADDTEXTW:
        return OnText(view, message, wParam, lParam);
    case DTM_ENDOFSOURCE:
        Reparse(view);
        return TRUE;
    case WM_GETTEXT:
        return OnGetText(view, wParam, lParam);
    case WM_GETTEXTLENGTH:
        return (LRESULT)view->source.size();
    case WM_SETFONT:
        view->font = (HFONT)wParam;
        view->DropFonts(nullptr);
        Relayout(view);
        if (LOWORD(lParam))
            UpdateWindow(window);
        return 0;
    case WM_GETFONT:
        return (LRESULT)view->font;
    case WM_SIZE:
        Relayout(view);
        return 0;
    case WM_ERASEBKGND:
        return 1;                        /* WM_PAINT covers every pixel */
    case WM_PAINT:
        Paint(view);
        return 0;
    case WM_SYSCOLORCHANGE:
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    case WM_VSCROLL:
        OnVScroll(view, LOWORD(wParam));
        return 0;
    case WM_MOUSEWHEEL:
        if (OnMouseWheel(view, GET_WHEEL_DELTA_WPARAM(wParam)))
            return 0;
        break;                           /* nothing to scroll: let the parent have it */
    case WM_LBUTTONDOWN: {
        int link = LinkAtClientPoint(view, lParam);
        if (link >= 0) {
            view->pressedLink = link;
            SetCapture(window);
            InvalidateLink(view, link);
        }
        return 0;
    }
    case WM_LBUTTONUP: {
        int pressed = view->pressedLink;
        if (pressed < 0)
            return 0;
        int link = LinkAtClientPoint(view, lParam);
        view->pressedLink = -1;
        InvalidateLink(view, pressed);
        if (GetCapture() == window)
            ReleaseCapture();
        if (link == pressed && (size_t)link < view->document.links.size()) {
            std::u16string target;
            try {
                target = view->document.links[(size_t)link];
            } catch (...) {
                return 0;
            }
            NotifyHotspot(window, target);
        }
        return 0;
    }
    case WM_CAPTURECHANGED:
        if ((HWND)lParam != window && view->pressedLink >= 0) {
            InvalidateLink(view, view->pressedLink);
            view->pressedLink = -1;
        }
        return 0;
    case WM_SETCURSOR:
        if ((HWND)wParam == window && LOWORD(lParam) == HTCLIENT) {
            POINT pt;
            GetCursorPos(&pt);
            ScreenToClient(window, &pt);
            if (HtmlLinkAt(view->layout, pt.x, pt.y + view->scrollY) >= 0) {
                SetCursor(LoadCursorW(nullptr, IDC_HAND));
                return TRUE;
            }
        }
        break;
    case HVM_GETLINKRECT:
        if (!lParam)
            return FALSE;
        return LinkRect(view, (int)wParam, reinterpret_cast<RECT *>(lParam));
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

BOOL RegisterHtmlViewClass(HINSTANCE instance)
{
    WNDCLASSW existing;
    if (GetClassInfoW(instance, HTML_VIEW_CLASS, &existing))
        return TRUE;
    WNDCLASSW wc = {};
    wc.style = CS_GLOBALCLASS;           /* dialogs of any module find it */
    wc.lpfnWndProc = HtmlViewProcedure;
    wc.cbWndExtra = sizeof(LONG_PTR);
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = HTML_VIEW_CLASS;
    if (RegisterClassW(&wc))
        return TRUE;
    return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}
