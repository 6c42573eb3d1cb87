// measure.h -- how wide the setup program's texts are on screen, and how
// much room their controls leave.  The fonts come from the program's own
// dialog templates, created hidden in this process (a font handle of the
// program's cannot be used here), so the measurement uses what the dialog
// manager makes of "Tahoma" 8 on this bench.
//
// Not the rule of how much a control keeps for itself (borders, the radio's
// box): that lives in velkor, which reads the raw figures written here.
#pragma once

#include <windows.h>

#include <string>

namespace robot {

// A template of a program's resources (loaded as data), created hidden;
// destroyed with the object.
class TemplateCopy {
public:
    TemplateCopy(const std::wstring &exe, int templateId);
    ~TemplateCopy();
    TemplateCopy(const TemplateCopy &) = delete;
    TemplateCopy &operator=(const TemplateCopy &) = delete;

    HWND Window() const { return dialog_; }
    HFONT Font(bool bold) const { return bold ? bold_ : regular_; }
    int ClientWidth(int controlId) const;   // 0: the dialog itself

private:
    HMODULE module_ = nullptr;
    HWND parent_ = nullptr, dialog_ = nullptr;
    HFONT regular_ = nullptr, bold_ = nullptr;
};

// Width in pixels of a single-line text as DrawText lays it out ('&'
// prefixes taken as the controls take them).
int TextWidth(HFONT font, const std::wstring &text);

// What a control does with its caption, for velkor's rule.
const char *ControlKind(HWND control);   // "button", "default-button", "radio", "static"

// One line of measurements: NAME TEMPLATE CONTROL KIND NEEDED WIDTH ZERO TEXTHEX,
// tab-separated, appended to `file`.  ZERO is the width of '0', which the
// radio's gap depends on; TEXTHEX the text as UTF-16 code units in hex.
void AppendMeasurement(const std::wstring &file, const std::string &name, int templateId, int control,
                       const std::string &kind, int needed, int width, int zero, const std::wstring &text);

// The character widths of the template's font, regular and bold, and the
// widths of the controls whose captions must fit, as velkor's table.
void WriteFontTable(const std::wstring &exe, const std::wstring &file);

std::wstring FromHex(const std::wstring &hex);   // UTF-16 code units, 4 hex digits each
std::string ToHex(const std::wstring &text);

}  // namespace robot
