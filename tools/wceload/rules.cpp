/*
 * rules.cpp -- name rules, command-line reading and the log line of the
 * CAB installer stand-in.  Pure string work; it never touches a file.
 */
#include "rules.h"
#include "utf.h"

namespace wceload {

namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

char16_t FoldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// Splits on either slash, keeping empty parts so they can be refused.
std::vector<Str> SplitParts(const Str &name)
{
    std::vector<Str> parts(1);
    for (char16_t c : name) {
        if (IsSeparator(c))
            parts.emplace_back();
        else
            parts.back().push_back(c);
    }
    return parts;
}

NameVerdict CheckPart(const Str &part)
{
    if (part.empty())
        return NameEmptyPart;
    if (part == u".")
        return NameDotPart;
    if (part == u"..")
        return NameClimbs;
    if (part.size() > MaxNameUnits)
        return NameTooLong;
    for (size_t i = 0; i < part.size(); ++i) {
        char16_t c = part[i];
        if (c < 0x20 || c == 0x7F)
            return NameBadCharacter;
        switch (c) {
        case u'<': case u'>': case u'"': case u'|': case u'?': case u'*':
            return NameBadCharacter;
        case u':':
            return NameColon;
        default:
            break;
        }
        if (c >= 0xD800 && c <= 0xDBFF) {          // high surrogate needs a low one
            if (i + 1 >= part.size() || part[i + 1] < 0xDC00 || part[i + 1] > 0xDFFF)
                return NameBadCharacter;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return NameBadCharacter;
        }
    }
    char16_t last = part.back();
    if (last == u'.' || last == u' ')
        return NameTrailingDotOrSpace;
    if (IsReservedDeviceName(part))
        return NameReservedDevice;
    return NameOk;
}

// The next word of the arguments starting at *pos (blanks skipped first).
Str NextWord(const Str &text, size_t *pos)
{
    size_t i = *pos;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    size_t start = i;
    while (i < text.size() && !IsBlank(text[i]))
        ++i;
    *pos = i;
    return text.substr(start, i - start);
}

bool EqualsOption(const Str &word, const char *option)
{
    size_t i = 0;
    for (; option[i]; ++i)
        if (i >= word.size() || FoldAscii(word[i]) != FoldAscii(char16_t(option[i])))
            return false;
    return i == word.size();
}

} // namespace

const char *NameVerdictText(NameVerdict verdict)
{
    switch (verdict) {
    case NameOk: return "ok";
    case NameEmpty: return "empty name";
    case NameAbsolute: return "absolute path";
    case NameColon: return "drive letter or data stream";
    case NameClimbs: return "climbs out with ..";
    case NameEmptyPart: return "empty path part";
    case NameDotPart: return "\".\" path part";
    case NameReservedDevice: return "reserved device name";
    case NameTrailingDotOrSpace: return "ends in a dot or space";
    case NameBadCharacter: return "invalid character";
    case NameTooLong: return "path too long";
    }
    return "?";
}

bool IsReservedDeviceName(const Str &part)
{
    // The device name is what comes before the first dot, blanks trimmed.
    size_t end = part.find(u'.');
    if (end == Str::npos)
        end = part.size();
    while (end > 0 && part[end - 1] == u' ')
        --end;
    Str base;
    for (size_t i = 0; i < end; ++i)
        base.push_back(FoldAscii(part[i]));
    if (base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL" ||
        base == u"CONIN$" || base == u"CONOUT$")
        return true;
    if (base.size() == 4 && (base.compare(0, 3, u"COM") == 0 || base.compare(0, 3, u"LPT") == 0)) {
        char16_t d = base[3];
        // The superscript digits count as well: Windows maps COM¹ to a port.
        return (d >= u'1' && d <= u'9') || d == 0xB9 || d == 0xB2 || d == 0xB3;
    }
    return false;
}

NameVerdict CheckRelativeName(const Str &name, size_t baseLength, Str *normalised)
{
    if (name.empty())
        return NameEmpty;
    bool onlySeparators = true;
    for (char16_t c : name)
        if (!IsSeparator(c))
            onlySeparators = false;
    if (onlySeparators)
        return NameEmpty;
    if (IsSeparator(name[0]))
        return NameAbsolute;
    std::vector<Str> parts = SplitParts(name);
    // ".." anywhere is the one that matters most: report it before the rest.
    for (const Str &part : parts)
        if (part == u"..")
            return NameClimbs;
    Str joined;
    for (const Str &part : parts) {
        NameVerdict v = CheckPart(part);
        if (v != NameOk)
            return v;
        if (!joined.empty())
            joined.push_back(u'\\');
        joined += part;
    }
    if (baseLength > MaxPathUnits || joined.size() > MaxPathUnits - baseLength)
        return NameTooLong;
    if (normalised)
        *normalised = joined;
    return NameOk;
}

bool SameName(const Str &a, const Str &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    return true;
}

bool IsWithinFolder(const Str &path, const Str &folder)
{
    if (folder == u"\\")
        return !path.empty() && path[0] == u'\\';
    if (path.size() < folder.size() || !SameName(path.substr(0, folder.size()), folder))
        return false;
    return path.size() == folder.size() || path[folder.size()] == u'\\';
}

bool NormaliseDevicePath(const Str &path, size_t rootLength, Str *normalised)
{
    if (path.empty() || !IsSeparator(path[0]))
        return false;
    if (path.size() > 1 && IsSeparator(path[1]))     // UNC, \\?\, \\.\ .
        return false;
    Str rest = path.substr(1);
    while (!rest.empty() && IsSeparator(rest.back()))
        rest.pop_back();
    if (rest.empty()) {
        normalised->assign(1, u'\\');
        return rootLength + 1 <= MaxPathUnits;
    }
    Str clean;
    if (CheckRelativeName(rest, rootLength + 1, &clean) != NameOk)
        return false;
    normalised->assign(1, u'\\');
    normalised->append(clean);
    return true;
}

Str DefaultDestination(const Str &cabPath)
{
    size_t slash = cabPath.find_last_of(u"\\/");
    Str file = slash == Str::npos ? cabPath : cabPath.substr(slash + 1);
    size_t dot = file.find_last_of(u'.');
    if (dot != Str::npos && dot > 0)
        file.resize(dot);
    return u"\\Program Files\\" + file;
}

Str StripProgramName(const Str &commandLine, const Str &programBaseName)
{
    size_t i = 0;
    while (i < commandLine.size() && IsBlank(commandLine[i]))
        ++i;
    size_t wordStart = i, wordEnd, after;
    if (i < commandLine.size() && commandLine[i] == u'"') {
        size_t close = commandLine.find(u'"', i + 1);
        if (close == Str::npos)
            return commandLine;
        wordStart = i + 1;
        wordEnd = close;
        after = close + 1;
    } else {
        while (i < commandLine.size() && !IsBlank(commandLine[i]))
            ++i;
        wordEnd = after = i;
    }
    Str word = commandLine.substr(wordStart, wordEnd - wordStart);
    size_t slash = word.find_last_of(u"\\/");
    Str file = slash == Str::npos ? word : word.substr(slash + 1);
    bool isProgram = SameName(file, u"wceload.exe") || SameName(file, u"wceload") ||
                     (!programBaseName.empty() && SameName(file, programBaseName));
    if (!isProgram)
        return commandLine;
    while (after < commandLine.size() && IsBlank(commandLine[after]))
        ++after;
    return commandLine.substr(after);
}

ArgumentsResult ParseArguments(const Str &arguments, Options *options, Str *cabPath)
{
    size_t pos = 0;
    bool sawOption = false;
    for (;;) {
        size_t wordPos = pos;
        Str word = NextWord(arguments, &pos);
        if (word.empty() || word[0] != u'/') {
            pos = wordPos;
            break;
        }
        sawOption = true;
        if (EqualsOption(word, "/noaskdest")) {
            options->NoAskDest = true;
        } else if (EqualsOption(word, "/askdest")) {
            options->AskDest = true;
        } else if (EqualsOption(word, "/noui")) {
            options->NoUi = true;
        } else if (EqualsOption(word, "/silent")) {
            options->Silent = true;
        } else if (EqualsOption(word, "/nouninstall")) {
            options->NoUninstall = true;
        } else if (EqualsOption(word, "/nodelete")) {
            options->Delete = 0;
        } else if (EqualsOption(word, "/delete")) {
            Str value = NextWord(arguments, &pos);
            if (value.empty())
                return ArgumentsMissingValue;
            if (value == u"0")
                options->Delete = 0;
            else if (value == u"1")
                options->Delete = 1;
            else
                return ArgumentsBadValue;
        } else {
            return ArgumentsUnknownOption;
        }
    }
    size_t start = pos, end = arguments.size();
    while (start < end && IsBlank(arguments[start]))
        ++start;
    while (end > start && IsBlank(arguments[end - 1]))
        --end;
    Str path = arguments.substr(start, end - start);
    if (path.size() >= 2 && path.front() == u'"' && path.back() == u'"')
        path = path.substr(1, path.size() - 2);
    if (path.empty())
        return sawOption ? ArgumentsNoPath : ArgumentsNone;
    *cabPath = path;
    return ArgumentsPath;
}

std::string ToUtf8(const Str &text) { return velkor::Utf16ToUtf8(text); }

Str FromCodePage1252(const std::string &bytes)
{
    // 0x80-0x9F differ from Latin-1; unassigned ones keep their byte value.
    static const char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    };
    Str out;
    for (unsigned char b : bytes)
        out.push_back((b >= 0x80 && b < 0xA0) ? high[b - 0x80] : char16_t(b));
    return out;
}

Str FromAscii(const char *text)
{
    Str out;
    while (*text)
        out.push_back(char16_t((unsigned char)*text++));
    return out;
}

std::string EscapeLogValue(const std::string &utf8)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : utf8) {
        if (c == '%' || c == '\t' || c == '\r' || c == '\n' || c == '|') {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        } else {
            out.push_back(char(c));
        }
    }
    return out;
}

std::string UnescapeLogValue(const std::string &escaped)
{
    auto hex = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < escaped.size(); ++i) {
        int hi, lo;
        if (escaped[i] == '%' && i + 2 < escaped.size() && (hi = hex(escaped[i + 1])) >= 0 &&
            (lo = hex(escaped[i + 2])) >= 0) {
            out.push_back(char(hi * 16 + lo));
            i += 2;
        } else {
            out.push_back(escaped[i]);
        }
    }
    return out;
}

bool ParseLogLine(const std::string &line, std::vector<LogField> *fields)
{
    fields->clear();
    static const char lead[] = "wceload\t";
    if (line.compare(0, sizeof lead - 1, lead) != 0)
        return false;
    for (size_t at = sizeof lead - 1;;) {
        size_t tab = line.find('\t', at);
        std::string field = line.substr(at, tab == std::string::npos ? std::string::npos : tab - at);
        size_t eq = field.find('=');
        LogField f;
        f.Key = field.substr(0, eq);
        std::string raw = eq == std::string::npos ? std::string() : field.substr(eq + 1);
        f.Value = UnescapeLogValue(raw);
        // A bar inside an item is escaped, so every bar left separates two.
        if ((f.Key == "files" || f.Key == "skipped") && !raw.empty())
            for (size_t from = 0;;) {
                size_t bar = raw.find('|', from);
                f.Items.push_back(
                    UnescapeLogValue(raw.substr(from, bar == std::string::npos ? std::string::npos : bar - from)));
                if (bar == std::string::npos)
                    break;
                from = bar + 1;
            }
        fields->push_back(f);
        if (tab == std::string::npos)
            return true;
        at = tab + 1;
    }
}

std::string FormatLogLine(const LogRecord &record)
{
    auto list = [](const std::vector<Str> &items) {
        std::string out;
        for (size_t i = 0; i < items.size(); ++i) {
            if (i)
                out.push_back('|');
            out += EscapeLogValue(ToUtf8(items[i]));
        }
        return out;
    };
    std::string line = "wceload";
    line += "\tcmdline=" + EscapeLogValue(ToUtf8(record.CommandLine));
    line += "\tcab=" + EscapeLogValue(ToUtf8(record.CabPath));
    line += "\tdest=" + EscapeLogValue(ToUtf8(record.Destination));
    line += "\tfAskDest=" + EscapeLogValue(record.AskDestValue);
    line += std::string("\tasked=") + (record.WouldAsk ? "yes" : "no");
    line += "\tfiles=" + list(record.Files);
    line += "\tskipped=" + list(record.Skipped);
    line += "\tregistry=" + std::to_string(record.RegistryValues);
    line += "\terror=" + EscapeLogValue(record.Error);
    line += "\texit=" + std::to_string(record.ExitCode);
    return line;
}

} // namespace wceload
