// textfit.h -- whether the package's texts fit the controls that show them:
// the button captions, the page headers (which never wrap), the radio
// captions, the space line and the progress label.  The widths come either
// from the screen (`velkor preview`, measured by the robot in the running
// setup program) or from the width table of the device font kept in
// devicefont.txt (`velkor lint`); both go through the same rule of how much
// of its width a control keeps for itself.  HTML panels and the agreement's
// edit control wrap or scroll, so they are not checked.
#pragma once

#include "lint.h"
#include "manifest.h"
#include "pkgread.h"
#include "pkgwrite.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace velkor {

enum class FitKind { Button, DefaultButton, Radio, Static, Header };

// "button", "default-button", "radio", "static", "header" (the robot's words).
bool ParseFitKind(const std::string &word, FitKind *kind);

// Pixels a control `width` pixels wide leaves for its caption: a push
// button keeps its 3-D frame (2 on each side) and a default button its ring
// as well; a radio keeps its round box (13), a gap of half a '0' and one of
// margin; the header starts 8 pixels in.  `zeroWidth` is the width of '0'.
int RoomFor(FitKind kind, int width, int zeroWidth);

// The width table: devicefont.txt, made by scripts/measure-font.sh.
struct DeviceFont {
    int baseX = 0, baseY = 0;                              // dialog base units
    int zeroWidth = 0;
    int averageRegular = 0, averageBold = 0;               // for characters not in the table
    std::map<char16_t, uint8_t> regular, bold;
    std::map<int, int> pageWidth;                          // template -> client width
    std::map<std::pair<int, int>, int> controlWidth;       // (template, control) -> client width
};
// False, with the line and what is wrong in *error, for a malformed table.
bool ParseDeviceFont(const std::string &text, DeviceFont *font, std::string *error);
const DeviceFont &TheDeviceFont();   // the table built into velkor

// Width of a single-line text in the table's font; '&' marks a mnemonic
// as the controls take it ("&&" shows one '&').
int TableWidth(const DeviceFont &font, const std::u16string &text, bool bold);

// One place where a text must fit.
struct FitPlace {
    int textIndex = 0;     // TextTable index
    uint8_t page = 0;      // page flag; 0 for the progress window
    int templateId = 0;
    int control = 0;       // 0: the header
    FitKind kind = FitKind::Static;
};

// Every place of the pages in `pageFlags` (and of the progress window,
// which every installation shows), in the order the wizard shows them.
// OK reads install_button on the last page and next_button before it; on
// the location page followed only by the destination page it reads either.
std::vector<FitPlace> FitPlaces(uint8_t pageFlags);

// "the OK button of the welcome page", "the header of the progress window".
std::string DescribePlace(const FitPlace &place);

// A text that does not fit: one finding, check "text-fit", item texts.NAME.
Finding FitFinding(const FitPlace &place, const std::u16string &text, int needed, int room);

// The findings of the table for a package's expanded texts: one per text
// that does not fit, at the first place where it does not.
std::vector<Finding> TableFitFindings(const DeviceFont &font, const std::vector<std::u16string> &texts,
                                      uint8_t pageFlags, uint32_t requiredSpace);

// The texts of a recipe as the setup program shows them: placeholders
// filled in by the program's own loader (LoadedTexts of pkgread.h).
std::vector<std::u16string> LoadedTexts(const PackageRecipe &recipe);

// The space the destination page shows: the selected components' sizes,
// or, when none is selected and there is a components page, the first
// component by name (the one `preview` ticks).
struct SizedComponent {
    std::u16string name;
    bool selected = false;
    uint64_t size = 0;
};
uint32_t ShownRequiredSpace(const std::vector<SizedComponent> &components, uint8_t pageFlags);

// lint's text-fit findings for a manifest's texts in one language
// text's key when the manifest names it; CAB sizes from the files) and for
// a built package.
std::vector<Finding> TextFitFindings(const Manifest &m, const PackageRecipe &recipe);
std::vector<Finding> TextFitFindings(const PackageInfo &p, const uint8_t *data, uint64_t size);

// Puts the manifest's line and column of each finding's text on it; with a
// language, a text of that language's [texts.TAG] table is named and placed
// there.
void PlaceInManifest(const Manifest &m, std::vector<Finding> &findings, const std::string &language = "");

// ---- preview: widths measured on screen by the robot ----

// The robot's steps that measure every place of `page` (0: the progress
// window, from its template) into `fileWord`; words already quoted for the
// script.  OK is named as the walk shows it: install_button on the last
// page, next_button before (the walk chooses a folder on the location page).
std::string MeasureSteps(uint8_t page, uint8_t pageFlags, const std::vector<std::u16string> &texts,
                         const std::string &exeWord, const std::string &fileWord);

struct Measurement {
    FitPlace place;
    std::u16string text;   // as it was on screen
    int needed = 0;        // measured
    int room = 0;
    int table = 0;         // the width table's figure for the same text
};
// The robot's lines.  Throws Failure(ExitPreviewFailed) for a line it
// cannot read.
std::vector<Measurement> ReadMeasurements(const std::string &contents, const DeviceFont &font);
// One finding per text that does not fit, at the first place it does not.
std::vector<Finding> MeasuredFitFindings(const std::vector<Measurement> &measured);


// preview --json: the pictures, the findings (in `where`, the manifest or
// the package) and every text measured.
std::string PreviewFitJson(const std::string &package, const std::vector<std::string> &pictures,
                           const std::vector<Finding> &findings, const std::vector<Measurement> &measured,
                           const std::string &where);

// The space line's "<space>": "1023 bytes", "5 Kb" ... as the destination
// page writes it.
std::u16string SpaceText(uint32_t bytes);

}  // namespace velkor
