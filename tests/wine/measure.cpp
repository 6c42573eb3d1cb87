// measure.cpp -- text and control widths of the setup program's templates,
// for `velkor preview` (what is on screen) and for velkor's width table.
#include "measure.h"
#include "robot.h"

#include <commctrl.h>

#include <cstdio>
#include <fstream>

namespace robot {

namespace {

// The HTML viewer is the program's own class; a plain window stands in for
// it so that the templates that hold one can be created.
LRESULT CALLBACK PlainWindow(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }
INT_PTR CALLBACK QuietDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

void RegisterStandIns()
{
    static bool done = false;
    if (done)
        return;
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = PlainWindow;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"DISPLAYCLASS";
    RegisterClassW(&wc);
    done = true;
}

}  // namespace

TemplateCopy::TemplateCopy(const std::wstring &exe, int templateId)
{
    RegisterStandIns();
    module_ = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module_)
        throw Failure("cannot load the resources of " + Narrow(exe));
    HRSRC found = FindResourceW(module_, MAKEINTRESOURCEW(templateId), MAKEINTRESOURCEW(5));   // RT_DIALOG
    HGLOBAL loaded = found ? LoadResource(module_, found) : nullptr;
    auto *dialog = loaded ? static_cast<const DLGTEMPLATE *>(LockResource(loaded)) : nullptr;
    if (!dialog) {
        FreeLibrary(module_);
        throw Failure(Narrow(exe) + " has no dialog template " + std::to_string(templateId));
    }
    // The page templates are child windows; a hidden parent holds them.
    parent_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleW(nullptr),
                              nullptr);
    dialog_ = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dialog, parent_, QuietDialog, 0);
    if (!dialog_) {
        DestroyWindow(parent_);
        FreeLibrary(module_);
        throw Failure("cannot create dialog template " + std::to_string(templateId) + " of " + Narrow(exe));
    }
    regular_ = reinterpret_cast<HFONT>(SendMessageW(dialog_, WM_GETFONT, 0, 0));
    LOGFONTW description = {};
    if (!regular_ || !GetObjectW(regular_, sizeof description, &description))
        throw Failure("dialog template " + std::to_string(templateId) + " has no font");
    description.lfWeight = FW_BOLD;   // as the page header draws it
    bold_ = CreateFontIndirectW(&description);
}

TemplateCopy::~TemplateCopy()
{
    if (bold_)
        DeleteObject(bold_);
    DestroyWindow(dialog_);
    DestroyWindow(parent_);
    FreeLibrary(module_);
}

int TemplateCopy::ClientWidth(int controlId) const
{
    HWND w = controlId ? GetDlgItem(dialog_, controlId) : dialog_;
    RECT r = {};
    if (!w || !GetClientRect(w, &r))
        throw Failure("the template has no control " + std::to_string(controlId));
    return r.right - r.left;
}

int TextWidth(HFONT font, const std::wstring &text)
{
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    RECT r = {0, 0, 0, 0};
    if (!text.empty())
        DrawTextW(dc, text.c_str(), int(text.size()), &r, DT_CALCRECT | DT_SINGLELINE);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return int(r.right - r.left);
}

static int CharWidth(HDC dc, wchar_t c)
{
    SIZE s = {};
    GetTextExtentPoint32W(dc, &c, 1, &s);
    return int(s.cx);
}

const char *ControlKind(HWND control)
{
    wchar_t cls[64] = {};
    GetClassNameW(control, cls, 64);
    LONG type = GetWindowLongW(control, GWL_STYLE) & 0x0F;
    if (lstrcmpiW(cls, L"Button") != 0)
        return "static";
    if (type == BS_DEFPUSHBUTTON)
        return "default-button";
    if (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON)
        return "radio";
    return "button";
}

std::string ToHex(const std::wstring &text)
{
    std::string hex;
    char unit[8];
    for (wchar_t c : text) {
        std::snprintf(unit, sizeof unit, "%04X", unsigned(c) & 0xFFFF);
        hex += unit;
    }
    return hex;
}

std::wstring FromHex(const std::wstring &hex)
{
    if (hex.size() % 4)
        throw Failure("a hex text needs four digits per code unit");
    std::wstring text;
    for (size_t i = 0; i < hex.size(); i += 4) {
        size_t used = 0;
        unsigned long v = 0;
        try {
            v = std::stoul(hex.substr(i, 4), &used, 16);
        } catch (...) {
            used = 0;
        }
        if (used != 4)
            throw Failure("\"" + Narrow(hex.substr(i, 4)) + "\" is not four hex digits");
        text += wchar_t(v);
    }
    return text;
}

void AppendMeasurement(const std::wstring &file, const std::string &name, int templateId, int control,
                       const std::string &kind, int needed, int width, int zero, const std::wstring &text)
{
    std::ofstream out(file.c_str(), std::ios::app | std::ios::binary);
    out << name << '\t' << templateId << '\t' << control << '\t' << kind << '\t' << needed << '\t' << width << '\t' << zero << '\t'
        << ToHex(text) << '\n';
    if (!out)
        throw Failure("cannot write " + Narrow(file));
}

void WriteFontTable(const std::wstring &exe, const std::wstring &file)
{
    struct Range {
        wchar_t first, last;
    };
    // Latin with its accents, Greek, Cyrillic, and the punctuation, currency
    // and letter-like signs that texts use; the rest take the average width.
    static const Range ranges[] = {{0x20, 0x7E},     {0xA0, 0x24F},    {0x370, 0x3FF},  {0x400, 0x4FF},
                                   {0x2010, 0x205F}, {0x20A0, 0x20BF}, {0x2100, 0x215F}};
    static const struct {
        int templateId;
        int controls[3];
    } controls[] = {{IDD_WELCOME, {IDOK, IDC_BACK, IDCANCEL}},
                    {IDD_AGREEMENT, {IDC_ACCEPT, IDC_DECLINE, 0}},
                    {IDD_LOCATION, {IDC_DEFAULT_LOCATION, IDC_CHOOSE_FOLDER, 0}},
                    {IDD_DESTINATION, {IDC_SPACE_LINE, 0, 0}},
                    {IDD_PROGRESS, {IDC_PROGRESS_LABEL, IDCANCEL, 0}}};
    static const int pages[] = {IDD_WELCOME, IDD_AGREEMENT, IDD_LOCATION, IDD_DESTINATION,
                                IDD_COMPONENTS, IDD_READY, IDD_PROGRESS};

    std::ofstream out(file.c_str(), std::ios::binary);
    TemplateCopy welcome(exe, IDD_WELCOME);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, welcome.Font(false));
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    TEXTMETRICW regular = {}, bold = {};
    GetTextMetricsW(dc, &regular);
    int zero = CharWidth(dc, L'0');
    SelectObject(dc, welcome.Font(true));
    GetTextMetricsW(dc, &bold);

    out << "# devicefont.txt -- the setup program's dialog font (\"Tahoma\" 8) as the Wine bench\n"
           "# draws it: character widths in pixels, regular and bold (the page header),\n"
           "# and the client widths of the controls whose captions must fit.\n"
           "# Made by scripts/measure-font.sh; do not edit by hand.\n";
    out << "face " << Narrow(face) << "\n";
    RECT units = {0, 0, 4, 8};   // dialog units to pixels: the base units
    MapDialogRect(welcome.Window(), &units);
    out << "base-units " << units.right << " " << units.bottom << "\n";
    out << "zero " << zero << "\n";
    out << "average " << regular.tmAveCharWidth << " " << bold.tmAveCharWidth << "\n";
    for (int id : pages) {
        TemplateCopy t(exe, id);
        out << "page " << id << " " << t.ClientWidth(0) << "\n";
    }
    for (const auto &c : controls) {
        TemplateCopy t(exe, c.templateId);
        for (int id : c.controls)
            if (id)
                out << "control " << c.templateId << " " << id << " " << t.ClientWidth(id) << "\n";
    }
    for (int weight = 0; weight < 2; ++weight) {
        SelectObject(dc, welcome.Font(weight == 1));
        for (const Range &r : ranges) {
            for (unsigned row = r.first; row <= r.last; row += 16) {
                char start[8];
                std::snprintf(start, sizeof start, "%04X", row);
                out << (weight ? "bold " : "regular ") << start;
                for (unsigned c = row; c < row + 16 && c <= r.last; ++c)
                    out << " " << CharWidth(dc, wchar_t(c));
                out << "\n";
            }
        }
    }
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    if (!out)
        throw Failure("cannot write " + Narrow(file));
}

}  // namespace robot
