// textfit.cpp -- which texts show where, how much room each control leaves,
// and the width table of the device font.  The rule of the room is the one
// place both `lint` (widths from the table) and `preview` (widths measured
// on screen) go through, so the two can only differ in the widths.
#include "textfit.h"

#include "errors.h"
#include "json.h"
#include "manifest.h"

#include "format.h"
#include "pageflow.h"
#include "pagetable.h"
#include "text.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

namespace velkor {

extern const char DeviceFontTable[];   // devicefont.txt, built in (devicefont_data.cpp)

namespace {

const int ProgressTemplate = IDD_PROGRESS;
const int ButtonOk = 1, ButtonCancel = 2, ButtonBack = IDC_BACK;   // IDOK, IDCANCEL


// The pieces a push button, a radio and the header keep for themselves.
const int ButtonFrame = 2;       // each side
const int DefaultRing = 1;       // each side, around the frame
const int RadioBox = 13;
const int RadioMargin = 1;
const int HeaderLeft = 8;


std::string ControlName(const FitPlace &p)
{
    switch (p.control) {
    case 0: return "the header";
    case ButtonOk: return "the OK button";
    case ButtonCancel: return "the Cancel button";
    case ButtonBack: return "the Back button";
    case IDC_ACCEPT: return "the accept choice";
    case IDC_DECLINE: return "the decline choice";
    case IDC_DEFAULT_LOCATION: return "the default-location choice";
    case IDC_CHOOSE_FOLDER: return "the choose-folder choice";
    case IDC_SPACE_LINE: return "the space line";
    case IDC_PROGRESS_LABEL: return "the progress label";
    default: return "control " + std::to_string(p.control);
    }
}

}  // namespace

bool ParseFitKind(const std::string &word, FitKind *kind)
{
    static const std::pair<const char *, FitKind> names[] = {{"button", FitKind::Button},
                                                             {"default-button", FitKind::DefaultButton},
                                                             {"radio", FitKind::Radio},
                                                             {"static", FitKind::Static},
                                                             {"header", FitKind::Header}};
    for (const auto &n : names)
        if (word == n.first) {
            *kind = n.second;
            return true;
        }
    return false;
}

int RoomFor(FitKind kind, int width, int zeroWidth)
{
    switch (kind) {
    case FitKind::Button: return width - 2 * ButtonFrame;
    case FitKind::DefaultButton: return width - 2 * (ButtonFrame + DefaultRing);
    case FitKind::Radio: return width - RadioBox - zeroWidth / 2 - RadioMargin;
    case FitKind::Header: return width - HeaderLeft;
    case FitKind::Static: break;
    }
    return width;
}

bool ParseDeviceFont(const std::string &text, DeviceFont *font, std::string *error)
{
    std::istringstream in(text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream words(line);
        std::string key;
        words >> key;
        bool ok = true;
        if (key == "face") {
            continue;
        } else if (key == "base-units") {
            ok = bool(words >> font->baseX >> font->baseY);
        } else if (key == "zero") {
            ok = bool(words >> font->zeroWidth);
        } else if (key == "average") {
            ok = bool(words >> font->averageRegular >> font->averageBold);
        } else if (key == "page") {
            int id = 0, width = 0;
            ok = bool(words >> id >> width);
            font->pageWidth[id] = width;
        } else if (key == "control") {
            int id = 0, control = 0, width = 0;
            ok = bool(words >> id >> control >> width);
            font->controlWidth[{id, control}] = width;
        } else if (key == "regular" || key == "bold") {
            std::string start;
            words >> start;
            unsigned long c = 0;
            size_t used = 0;
            try {
                c = std::stoul(start, &used, 16);
            } catch (...) {
                used = 0;
            }
            ok = used == start.size() && used > 0 && c < 0x10000;
            auto &widths = key == "bold" ? font->bold : font->regular;
            int w = 0, count = 0;
            while (ok && words >> w) {
                ok = w >= 0 && w < 256 && c + size_t(count) < 0x10000;
                widths[char16_t(c + size_t(count++))] = uint8_t(w);
            }
            ok = ok && count > 0 && words.eof();
        } else {
            ok = false;
        }
        if (!ok) {
            *error = "line " + std::to_string(number) + ": cannot read \"" + line + "\"";
            return false;
        }
    }
    if (font->zeroWidth <= 0 || font->averageRegular <= 0 || font->regular.empty() || font->bold.empty()) {
        *error = "the zero width, the average widths or the character widths are missing";
        return false;
    }
    return true;
}

const DeviceFont &TheDeviceFont()
{
    static const DeviceFont font = [] {
        DeviceFont f;
        std::string error;
        if (!ParseDeviceFont(DeviceFontTable, &f, &error))
            throw Failure(ExitInternal, "the built-in width table devicefont.txt is damaged: " + error);
        return f;
    }();
    return font;
}

int TableWidth(const DeviceFont &font, const std::u16string &text, bool bold)
{
    const auto &widths = bold ? font.bold : font.regular;
    const int average = bold ? font.averageBold : font.averageRegular;
    int total = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'&') {
            if (i + 1 == text.size())
                break;   // a lone '&' at the end shows nothing
            c = text[++i];   // "&x" shows x (underlined), "&&" one '&'
        }
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            ++i;   // a pair is one character
            total += average;
            continue;
        }
        auto it = widths.find(c);
        total += it == widths.end() ? average : it->second;
    }
    return total;
}

std::vector<FitPlace> FitPlaces(uint8_t pageFlags)
{
    std::vector<FitPlace> places;
    const uint8_t flags = pageFlags & PageAll;
    for (const PageTemplate &p : PageTemplates) {
        if (!(flags & p.Flag))
            continue;
        auto add = [&](int text, int control, FitKind kind) {
            places.push_back({text, uint8_t(p.Flag), p.Template, control, kind});
        };
        add(p.Title, 0, FitKind::Header);
        // The location page's OK caption follows the choice made on it.
        bool installs = OkInstalls(flags, 0, p.Flag), installsSkipping = OkInstalls(flags, 1, p.Flag);
        if (!installs || !installsSkipping)
            add(TextNextButton, ButtonOk, FitKind::DefaultButton);
        if (installs || installsSkipping)
            add(TextInstallButton, ButtonOk, FitKind::DefaultButton);
        add(TextBackButton, ButtonBack, FitKind::Button);
        add(TextCancelButton, ButtonCancel, FitKind::Button);
        if (p.Flag == PageAgreement) {
            add(TextAcceptChoice, IDC_ACCEPT, FitKind::Radio);
            add(TextDeclineChoice, IDC_DECLINE, FitKind::Radio);
        } else if (p.Flag == PageLocation) {
            add(TextDefaultLocationChoice, IDC_DEFAULT_LOCATION, FitKind::Radio);
            add(TextChooseFolderChoice, IDC_CHOOSE_FOLDER, FitKind::Radio);
        } else if (p.Flag == PageDestination) {
            add(TextSpaceRequired, IDC_SPACE_LINE, FitKind::Static);
        }
    }
    places.push_back({TextProgressTitle, 0, ProgressTemplate, 0, FitKind::Header});
    places.push_back({TextProgressLabel, 0, ProgressTemplate, IDC_PROGRESS_LABEL, FitKind::Static});
    places.push_back({TextCancelButton, 0, ProgressTemplate, ButtonCancel, FitKind::Button});
    return places;
}

std::string DescribePlace(const FitPlace &place)
{
    return ControlName(place) +
           (place.page ? " of the " + PageNameOf(place.page, "progress") + " page" : " of the progress window");
}

Finding FitFinding(const FitPlace &place, const std::u16string &text, int needed, int room)
{
    std::string name = size_t(place.textIndex) < TextNames().size() ? TextNames()[size_t(place.textIndex)] : "?";
    std::string shown = Utf16ToUtf8(text);
    std::string how = place.kind == FitKind::Static ? "it wraps and its second line is cut off"
                      : place.kind == FitKind::Header ? "it is cut at the right edge (a header never wraps)"
                                                      : "it is cut off";
    Finding f;
    f.check = LintCheckName(LintCheck::TextFit);
    f.item = "texts." + name;
    f.message = "texts." + name + " \"" + shown + "\" is " + std::to_string(needed) + " pixels wide but " +
                DescribePlace(place) + " has room for " + std::to_string(room) + ": " + how;
    return f;
}

std::u16string SpaceText(uint32_t bytes)
{
    VCHAR amount[SPACE_AMOUNT_SIZE];
    FormatSpaceAmount(bytes, amount);
    return amount;
}

std::vector<Finding> TableFitFindings(const DeviceFont &font, const std::vector<std::u16string> &texts,
                                      uint8_t pageFlags, uint32_t requiredSpace)
{
    std::vector<Finding> out;
    std::vector<bool> reported(texts.size(), false);
    for (const FitPlace &place : FitPlaces(pageFlags)) {
        size_t i = size_t(place.textIndex);
        if (i >= texts.size() || reported[i])
            continue;
        std::u16string text = texts[i];
        if (place.textIndex == TextSpaceRequired) {
            VCHAR *line = ReplaceAll(text.c_str(), u"<space>", SpaceText(requiredSpace).c_str());
            if (line) {
                text = line;
                VFree(line);
            }
        }
        int width = 0;
        if (place.control == 0) {
            auto it = font.pageWidth.find(place.templateId);
            width = it == font.pageWidth.end() ? 0 : it->second;
        } else {
            auto it = font.controlWidth.find({place.templateId, place.control});
            if (it == font.controlWidth.end())
                it = font.controlWidth.find({PageTemplates[0].Template, place.control});   // buttons are alike on every page
            width = it == font.controlWidth.end() ? 0 : it->second;
        }
        if (width <= 0)
            continue;   // a control the table does not know
        int needed = TableWidth(font, text, place.kind == FitKind::Header);
        int room = RoomFor(place.kind, width, font.zeroWidth);
        if (needed > room) {
            out.push_back(FitFinding(place, text, needed, room));
            reported[i] = true;
        }
    }
    return out;
}


std::vector<std::u16string> LoadedTexts(const PackageRecipe &recipe)
{
    // The header alone is what the loader reads; the components' CABs are
    // not needed for the texts.
    PackageRecipe bare = recipe;
    for (auto &c : bare.components)
        c.cab.clear();
    Bytes file = BuildPackage(Bytes{'M', 'Z'}, bare, 1);
    return LoadedTexts(file.data(), file.size());
}

uint32_t ShownRequiredSpace(const std::vector<SizedComponent> &components, uint8_t pageFlags)
{
    uint32_t total = 0;
    const SizedComponent *first = nullptr;
    for (const auto &c : components) {
        if (c.selected)
            total += uint32_t(c.size);   // wraps as the program's 32-bit sum does
        if (!first || c.name < first->name)
            first = &c;
    }
    bool any = false;
    for (const auto &c : components)
        any = any || c.selected;
    if (!any && first && (pageFlags & PageComponents))
        total = uint32_t(first->size);
    return total;
}

std::vector<Finding> TextFitFindings(const Manifest &m, const PackageRecipe &recipe)
{
    std::vector<SizedComponent> sized;
    for (size_t i = 0; i < recipe.components.size(); ++i) {
        std::error_code ec;
        uint64_t size = i < m.components.size() ? std::filesystem::file_size(m.components[i].cabPath, ec) : 0;
        sized.push_back({recipe.components[i].name, recipe.components[i].selected, ec ? 0 : size});
    }
    return TableFitFindings(TheDeviceFont(), LoadedTexts(recipe), recipe.pageFlags,
                            ShownRequiredSpace(sized, recipe.pageFlags));
}

std::vector<Finding> TextFitFindings(const PackageInfo &p, const uint8_t *data, uint64_t size)
{
    std::vector<SizedComponent> sized;
    for (const auto &c : p.components)
        sized.push_back({c.name, c.selected != 0, c.unpackedSize});
    return TableFitFindings(TheDeviceFont(), LoadedTexts(data, size), p.pageFlags,
                            ShownRequiredSpace(sized, p.pageFlags));
}

void PlaceInManifest(const Manifest &m, std::vector<Finding> &findings, const std::string &language)
{
    for (auto &f : findings) {
        if (f.item.compare(0, 6, "texts.") != 0)
            continue;
        // A text the language's own table gives is named and found there;
        // the others fall back to [texts], as the build took them.
        std::string own = language.empty() ? "" : "texts." + language + "." + f.item.substr(6);
        if (!own.empty() && m.places.count(own))
            RenameFindingItem(f, own);
        if (!m.places.count(f.item))
            continue;   // a text the manifest leaves at its default
        SourcePlace at = m.PlaceOf(f.item);
        f.file = m.path;
        f.line = at.line;
        f.col = at.col;
    }
}

std::string MeasureSteps(uint8_t page, uint8_t pageFlags, const std::vector<std::u16string> &texts,
                         const std::string &exeWord, const std::string &fileWord)
{
    // The preview's walk chooses a folder on the location page.
    const int okInstalls = page ? OkInstalls(pageFlags & PageAll, 0, page) : 0;
    std::string steps;
    for (const FitPlace &place : FitPlaces(pageFlags)) {
        if (place.page != page || size_t(place.textIndex) >= texts.size() || size_t(place.textIndex) >= TextNames().size())
            continue;
        if (place.control == ButtonOk && (place.textIndex == TextInstallButton) != (okInstalls != 0))
            continue;   // the other caption, not the one on screen
        steps += "measure " + fileWord + " " + TextNames()[size_t(place.textIndex)] + " " + exeWord + " " +
                 std::to_string(place.templateId) + " " + std::to_string(place.control);
        // The header is painted, not a control's text, and the progress
        // window is never shown by the walk: their texts go with the step.
        if (place.control == 0 || page == 0) {
            steps += " ";
            for (char16_t c : texts[size_t(place.textIndex)]) {
                char unit[8];
                std::snprintf(unit, sizeof unit, "%04X", unsigned(c));
                steps += unit;
            }
        }
        steps += "\n";
    }
    return steps;
}

std::vector<Measurement> ReadMeasurements(const std::string &contents, const DeviceFont &font)
{
    std::vector<Measurement> out;
    std::istringstream in(contents);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');)
            fields.push_back(cell);
        if (fields.size() == 7)
            fields.push_back("");   // an empty text
        Measurement m;
        bool ok = fields.size() == 8 && ParseFitKind(fields[3], &m.place.kind) && fields[7].size() % 4 == 0;
        size_t index = 0;
        while (ok && index < TextNames().size() && TextNames()[index] != fields[0])
            ++index;
        ok = ok && index < TextNames().size();
        int numbers[5] = {};
        for (int k = 0; ok && k < 5; ++k) {
            const std::string &f = fields[size_t(k == 0 ? 1 : k == 1 ? 2 : k + 2)];
            ok = !f.empty() && f.size() < 9 && f.find_first_not_of("0123456789") == std::string::npos;
            numbers[k] = ok ? std::stoi(f) : 0;
        }
        for (size_t i = 0; ok && i < fields[7].size(); i += 4) {
            ok = fields[7].find_first_not_of("0123456789ABCDEFabcdef", i) >= i + 4;
            if (ok)
                m.text += char16_t(std::stoul(fields[7].substr(i, 4), nullptr, 16));
        }
        if (!ok)
            throw Failure(ExitPreviewFailed, "the robot's measurement \"" + line + "\" cannot be read");
        m.place.textIndex = int(index);
        m.place.templateId = numbers[0];
        m.place.control = numbers[1];
        for (const PageTemplate &p : PageTemplates)
            if (p.Template == numbers[0])
                m.place.page = p.Flag;
        m.needed = numbers[2];
        m.room = RoomFor(m.place.kind, numbers[3], numbers[4]);
        m.table = TableWidth(font, m.text, m.place.kind == FitKind::Header);
        out.push_back(m);
    }
    return out;
}

std::vector<Finding> MeasuredFitFindings(const std::vector<Measurement> &measured)
{
    std::vector<Finding> out;
    std::vector<bool> reported(TextNames().size(), false);
    for (const Measurement &m : measured) {
        size_t i = size_t(m.place.textIndex);
        if (m.needed > m.room && !reported[i]) {
            out.push_back(FitFinding(m.place, m.text, m.needed, m.room));
            reported[i] = true;
        }
    }
    return out;
}

std::string PreviewFitJson(const std::string &package, const std::vector<std::string> &pictures,
                        const std::vector<Finding> &findings, const std::vector<Measurement> &measured,
                        const std::string &where)
{
    JsonWriter j;
    j.BeginObject().Key("file").String(package);
    j.Key("pictures").BeginArray();
    for (const auto &p : pictures)
        j.String(p);
    j.EndArray();
    j.Key("finding_count").Number(findings.size());
    j.Key("findings").BeginArray();
    for (const auto &f : findings) {
        j.BeginObject().Key("check").String(f.check).Key("severity").String("warning");
        j.Key("item").String(f.item).Key("message").String(f.message).Key("file").String(where);
        if (f.line)
            j.Key("line").Number(f.line).Key("column").Number(f.col);
        j.EndObject();
    }
    j.EndArray();
    // Every text measured, so an author sees how close each one comes.
    j.Key("measurements").BeginArray();
    for (const auto &m : measured) {
        j.BeginObject().Key("item").String("texts." + TextNames()[size_t(m.place.textIndex)]);
        j.Key("place").String(DescribePlace(m.place)).Key("text").String(Utf16ToUtf8(m.text));
        j.Key("needed").Number(uint64_t(m.needed)).Key("room").Number(uint64_t(std::max(m.room, 0)));
        j.Key("table").Number(uint64_t(m.table)).Key("fits").Bool(m.needed <= m.room).EndObject();
    }
    j.EndArray();
    j.EndObject();
    return j.str();
}

}  // namespace velkor
