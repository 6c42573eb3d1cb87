// rules_test.cpp -- the installer stand-in's name rules, command line and
// log line, checked natively.
#include "rules.h"

#include <gtest/gtest.h>

using namespace wceload;

namespace {

std::string Show(const Str &s) { return ToUtf8(s); }

struct NameCase {
    const char16_t *name;
    NameVerdict expected;
};

// A folder of ten units ("X:\Program\") for the length rules.
const size_t Base = 10;

const NameCase HostileNames[] = {
    // absolute, UNC and device namespace
    {u"/etc/passwd", NameAbsolute},
    {u"\\windows\\win.ini", NameAbsolute},
    {u"\\\\server\\share\\x.txt", NameAbsolute},
    {u"//server/share/x.txt", NameAbsolute},
    {u"\\\\?\\C:\\x.txt", NameAbsolute},
    {u"\\\\.\\PhysicalDrive0", NameAbsolute},
    {u"//?/c:/x.txt", NameAbsolute},
    {u"/\\mixed.txt", NameAbsolute},
    // drive letters and data streams
    {u"C:\\x.txt", NameColon},
    {u"c:x.txt", NameColon},
    {u"file.txt:stream", NameColon},
    {u"file.txt::$DATA", NameColon},
    {u"dir:ads\\x.txt", NameColon},
    // climbing out
    {u"..\\x.txt", NameClimbs},
    {u"../x.txt", NameClimbs},
    {u"a\\..\\..\\x.txt", NameClimbs},
    {u"a/../../x.txt", NameClimbs},
    {u"a/b\\..\\../../c", NameClimbs},
    {u"a\\..", NameClimbs},
    {u"..", NameClimbs},
    // reserved devices, with and without extension, anywhere in the path
    {u"CON", NameReservedDevice},
    {u"con.txt", NameReservedDevice},
    {u"NUL", NameReservedDevice},
    {u"nul.tar.gz", NameReservedDevice},
    {u"AUX", NameReservedDevice},
    {u"prn.log", NameReservedDevice},
    {u"COM1", NameReservedDevice},
    {u"com9.txt", NameReservedDevice},
    {u"LPT1", NameReservedDevice},
    {u"Lpt5.dat", NameReservedDevice},
    {u"sub\\CON", NameReservedDevice},
    {u"CON\\x.txt", NameReservedDevice},
    {u"CON .txt", NameReservedDevice},
    {u"COM\u00B9", NameReservedDevice},
    {u"conout$", NameReservedDevice},
    // trailing dots and spaces
    {u"name.", NameTrailingDotOrSpace},
    {u"name ", NameTrailingDotOrSpace},
    {u"dir.\\x.txt", NameTrailingDotOrSpace},
    {u"dir \\x.txt", NameTrailingDotOrSpace},
    {u"...", NameTrailingDotOrSpace},
    // malformed paths and characters
    {u"", NameEmpty},
    {u"\\", NameEmpty},
    {u"a\\\\b", NameEmptyPart},
    {u"a\\", NameEmptyPart},
    {u".", NameDotPart},
    {u"a\\.\\b", NameDotPart},
    {u"a<b", NameBadCharacter},
    {u"a>b", NameBadCharacter},
    {u"a|b", NameBadCharacter},
    {u"a\"b", NameBadCharacter},
    {u"a?b", NameBadCharacter},
    {u"a*b", NameBadCharacter},
    {u"a\x01" u"b", NameBadCharacter},
    {u"tab\there", NameBadCharacter},
    {u"lone\xD800" u"x", NameBadCharacter},
    {u"lone\xDC00", NameBadCharacter},
};

TEST(NameRules, HostileNamesAreRefused)
{
    for (const NameCase &c : HostileNames) {
        Str out = u"untouched";
        EXPECT_EQ(CheckRelativeName(c.name, Base, &out), c.expected) << Show(c.name);
        EXPECT_EQ(out, u"untouched") << Show(c.name);
    }
}

TEST(NameRules, OverLongNamesAreRefused)
{
    Str part256(256, u'a');
    EXPECT_EQ(CheckRelativeName(part256, Base), NameTooLong);
    EXPECT_EQ(CheckRelativeName(u"dir\\" + part256, Base), NameTooLong);
    // The whole path may be MaxPathUnits long, not one more.
    Str fits = Str(200, u'b') + u"\\" + Str(MaxPathUnits - Base - 201, u'c');
    EXPECT_EQ(CheckRelativeName(fits, Base), NameOk);
    EXPECT_EQ(CheckRelativeName(fits + u"d", Base), NameTooLong);
    EXPECT_EQ(CheckRelativeName(u"x", MaxPathUnits), NameTooLong);
    EXPECT_EQ(CheckRelativeName(u"x", MaxPathUnits - 1), NameOk);
    EXPECT_EQ(CheckRelativeName(u"x", size_t(-1)), NameTooLong);
}

TEST(NameRules, OrdinaryNamesAreAcceptedAndNormalised)
{
    // Accepted as they are written.
    const char16_t *const kept[] = {
        u"readme.txt", u"sub\\file.txt",
        u"\u00DCn\u00EFc\u00F8d\u00E9.txt", u"\u65E5\u672C\u8A9E\\\u30D5\u30A1\u30A4\u30EB.txt",
        u"smile\xD83D\xDE00.txt", u".hidden", u"a..b.txt", u"..name",
        u"CONSOLE.txt", u"COM10.txt", u"LPT.txt", u"nul_file", u"con-fig\\aux_data.bin",
        u"my file with spaces.txt", u"percent %CE1% and ~1.txt",
    };
    for (const char16_t *name : kept) {
        Str out;
        EXPECT_EQ(CheckRelativeName(name, Base, &out), NameOk) << Show(name);
        EXPECT_EQ(out, name) << Show(name);
    }
    // Forward slashes become backslashes.
    Str slashes, mixed;
    EXPECT_EQ(CheckRelativeName(u"sub/deeper/file.bin", Base, &slashes), NameOk);
    EXPECT_EQ(slashes, u"sub\\deeper\\file.bin");
    EXPECT_EQ(CheckRelativeName(u"mixed/slash\\styles.txt", Base, &mixed), NameOk);
    EXPECT_EQ(mixed, u"mixed\\slash\\styles.txt");
}

TEST(NameRules, DevicePaths)
{
    const struct {
        const char16_t *path;
        bool ok;
        const char16_t *normalised;
    } cases[] = {
        {u"\\", true, u"\\"},
        {u"\\Program Files\\App\\", true, u"\\Program Files\\App"},
        {u"/My Documents/x", true, u"\\My Documents\\x"},
        {u"\\Storage Card\\\u00C4pps", true, u"\\Storage Card\\\u00C4pps"},
        {u"C:\\x", false, nullptr},
        {u"\\\\server\\share", false, nullptr},
        {u"\\\\?\\C:\\x", false, nullptr},
        {u"relative\\x", false, nullptr},
        {u"\\a\\..\\..\\b", false, nullptr},
        {u"\\a\\NUL", false, nullptr},
        {u"\\a\\b.", false, nullptr},
        {u"", false, nullptr},
    };
    for (const auto &c : cases) {
        Str out = u"untouched";
        EXPECT_EQ(NormaliseDevicePath(c.path, 2, &out), c.ok) << Show(c.path);
        EXPECT_EQ(out, c.ok ? Str(c.normalised) : Str(u"untouched")) << Show(c.path);
    }
    Str longPath = u"\\" + Str(200, u'a') + u"\\" + Str(MaxPathUnits - 2 - 202, u'b');
    Str out;
    EXPECT_TRUE(NormaliseDevicePath(longPath, 2, &out));
    EXPECT_FALSE(NormaliseDevicePath(longPath + u"c", 2, &out));
}

TEST(NameRules, FolderContainment)
{
    EXPECT_TRUE(IsWithinFolder(u"\\Program Files\\App\\x", u"\\program files\\app"));
    EXPECT_TRUE(IsWithinFolder(u"\\Program Files\\App", u"\\Program Files\\App"));
    EXPECT_FALSE(IsWithinFolder(u"\\Program Files\\Apple", u"\\Program Files\\App"));
    EXPECT_FALSE(IsWithinFolder(u"\\Program", u"\\Program Files"));
    EXPECT_TRUE(IsWithinFolder(u"\\anything", u"\\"));
}

TEST(CommandLine, DefaultDestinationIsTheCabBaseName)
{
    EXPECT_EQ(DefaultDestination(u"\\kCABFILE.cab"), u"\\Program Files\\kCABFILE");
    EXPECT_EQ(DefaultDestination(u"\\My Documents\\my app.v2.cab"), u"\\Program Files\\my app.v2");
    EXPECT_EQ(DefaultDestination(u"noext"), u"\\Program Files\\noext");
    EXPECT_EQ(DefaultDestination(u"/unix/style.CAB"), u"\\Program Files\\style");
}

TEST(CommandLine, ProgramNameIsStrippedOnlyWhenPresent)
{
    // What the device and CreateProcess with an application name pass, and
    // a quote left open: passed on as they are.
    const char16_t *const kept[] = {
        u"\\kCABFILE.cab", u"\\My Files\\a b.cab", u"\"\\My Files\\a b.cab\"", u"\\My Files\\wceload.cab", u"",
        u"\"unterminated \\x.cab",
    };
    for (const char16_t *line : kept)
        EXPECT_EQ(StripProgramName(line, u"probe.exe"), line) << Show(line);
    // What a desktop shell passes: the program's name goes.
    const struct {
        const char16_t *line, *arguments;
    } stripped[] = {
        {u"wceload.exe \\kCABFILE.cab", u"\\kCABFILE.cab"},
        {u"WCELOAD   /noui \\x.cab", u"/noui \\x.cab"},
        {u"\"C:\\Program Files\\tools\\wceload.exe\" /noui \\a b.cab", u"/noui \\a b.cab"},
        {u"Z:/build/bin/probe.exe x.cab", u"x.cab"},
    };
    for (const auto &c : stripped)
        EXPECT_EQ(StripProgramName(c.line, u"probe.exe"), c.arguments) << Show(c.line);
    // The program's name alone leaves nothing.
    for (const char16_t *line : {u"\"\\windows\\wceload.exe\"", u"\\windows\\wceload.exe"})
        EXPECT_EQ(StripProgramName(line, u"probe.exe"), u"") << Show(line);
}

TEST(CommandLine, OptionsAndPath)
{
    const struct {
        const char16_t *arguments;
        ArgumentsResult result;
        const char16_t *path;
        bool askDest, noAskDest, noUi, silent, noUninstall;
        int del;
    } cases[] = {
        {u"", ArgumentsNone, u"", 0, 0, 0, 0, 0, -1},
        {u"   \t ", ArgumentsNone, u"", 0, 0, 0, 0, 0, -1},
        {u"\"\"", ArgumentsNone, u"", 0, 0, 0, 0, 0, -1},
        {u"\\kCABFILE.cab", ArgumentsPath, u"\\kCABFILE.cab", 0, 0, 0, 0, 0, -1},
        {u"\\My Documents\\a  b.cab  ", ArgumentsPath, u"\\My Documents\\a  b.cab", 0, 0, 0, 0, 0, -1},
        {u"\"\\My Documents\\a b.cab\"", ArgumentsPath, u"\\My Documents\\a b.cab", 0, 0, 0, 0, 0, -1},
        {u"/noaskdest \\kCABFILE.cab", ArgumentsPath, u"\\kCABFILE.cab", 0, 1, 0, 0, 0, -1},
        {u"/NOUI /silent  /NoUninstall /askdest x.cab", ArgumentsPath, u"x.cab", 1, 0, 1, 1, 1, -1},
        {u"/delete 0 x.cab", ArgumentsPath, u"x.cab", 0, 0, 0, 0, 0, 0},
        {u"/delete 1 \"\\a b.cab\"", ArgumentsPath, u"\\a b.cab", 0, 0, 0, 0, 0, 1},
        {u"/nodelete x.cab", ArgumentsPath, u"x.cab", 0, 0, 0, 0, 0, 0},
        {u"x.cab /noui", ArgumentsPath, u"x.cab /noui", 0, 0, 0, 0, 0, -1},
    };
    for (const auto &c : cases) {
        Options o;
        Str path;
        EXPECT_EQ(ParseArguments(c.arguments, &o, &path), c.result) << Show(c.arguments);
        EXPECT_EQ(path, c.path) << Show(c.arguments);
        EXPECT_EQ(o.AskDest, c.askDest) << Show(c.arguments);
        EXPECT_EQ(o.NoAskDest, c.noAskDest) << Show(c.arguments);
        EXPECT_EQ(o.NoUi, c.noUi) << Show(c.arguments);
        EXPECT_EQ(o.Silent, c.silent) << Show(c.arguments);
        EXPECT_EQ(o.NoUninstall, c.noUninstall) << Show(c.arguments);
        EXPECT_EQ(o.Delete, c.del) << Show(c.arguments);
    }
}

TEST(CommandLine, RefusedArgumentsGiveNoPath)
{
    const struct {
        const char16_t *arguments;
        ArgumentsResult result;
    } cases[] = {
        {u"/delete", ArgumentsMissingValue},
        {u"/delete 2 x.cab", ArgumentsBadValue},
        {u"/delete x.cab", ArgumentsBadValue},
        {u"/bogus x.cab", ArgumentsUnknownOption},
        {u"/noaskdestx x.cab", ArgumentsUnknownOption},
        {u"/noui", ArgumentsNoPath},
        {u"/noui   \"\"", ArgumentsNoPath},
    };
    for (const auto &c : cases) {
        Options o;
        Str path;
        EXPECT_EQ(ParseArguments(c.arguments, &o, &path), c.result) << Show(c.arguments);
        EXPECT_EQ(path, u"") << Show(c.arguments);
    }
}

TEST(LogLine, FieldsInOrderWithSeparatorsEscaped)
{
    LogRecord r;
    r.CommandLine = u"/noui \\a\tb|c%d.cab";
    r.CabPath = u"\\a\tb|c%d.cab";
    r.Destination = u"\\Program Files\\\u00C4pp";
    r.AskDestValue = "missing";
    r.WouldAsk = true;
    r.Files = {u"x.txt", u"sub\\y\u65E5.txt", u"\\Windows\\z.dll"};
    r.Skipped = {u"old.txt"};
    r.RegistryValues = 3;
    r.Error = "line\r\nbreak";
    r.ExitCode = 5;
    EXPECT_EQ(FormatLogLine(r),
              "wceload\tcmdline=/noui \\a%09b%7Cc%25d.cab\tcab=\\a%09b%7Cc%25d.cab"
              "\tdest=\\Program Files\\\xC3\x84pp\tfAskDest=missing\tasked=yes"
              "\tfiles=x.txt|sub\\y\xE6\x97\xA5.txt|\\Windows\\z.dll\tskipped=old.txt\tregistry=3"
              "\terror=line%0D%0Abreak\texit=5");
    LogRecord empty;
    EXPECT_EQ(FormatLogLine(empty),
              "wceload\tcmdline=\tcab=\tdest=\tfAskDest=\tasked=no\tfiles=\tskipped=\tregistry=0\terror=\texit=0");
}

TEST(LogLine, ReadsBackWhatItWrote)
{
    // Every escaped character, an "=", non-ASCII and a surrogate pair, in
    // every text field and list item.
    const Str awkward[] = {u"", u"plain", u"/noui \"\\a\tb|c%25d.cab\"", u"\\Program Files\\\u00C4pp %\r\n",
                           u"sub\\\u65E5\xD83D\xDE00.txt", u"|", u"%", u"a=b"};
    const std::vector<std::string> keys = {"cmdline", "cab",   "dest",     "fAskDest", "asked",
                                           "files",   "skipped", "registry", "error",    "exit"};
    for (const Str &text : awkward) {
        const std::string utf8 = ToUtf8(text);
        LogRecord r;
        r.CommandLine = r.CabPath = r.Destination = text;
        r.AskDestValue = r.Error = utf8;
        r.WouldAsk = true;
        r.Files = {text, u"x|y.txt", text};
        r.Skipped = {u"kept", text};
        r.RegistryValues = 12;
        r.ExitCode = 4;
        std::vector<LogField> fields;
        ASSERT_TRUE(ParseLogLine(FormatLogLine(r), &fields)) << utf8;
        std::vector<std::string> found;
        for (const LogField &f : fields)
            found.push_back(f.Key);
        ASSERT_EQ(found, keys) << utf8;
        for (size_t i : {0, 1, 2, 3, 8})
            EXPECT_EQ(fields[i].Value, utf8) << keys[i];
        EXPECT_EQ(fields[4].Value, "yes");
        EXPECT_EQ(fields[5].Items, (std::vector<std::string>{utf8, "x|y.txt", utf8}));
        EXPECT_EQ(fields[5].Value, utf8 + "|x|y.txt|" + utf8) << "a list undone whole";
        EXPECT_EQ(fields[6].Items, (std::vector<std::string>{"kept", utf8}));
        EXPECT_EQ(fields[7].Value, "12");
        EXPECT_EQ(fields[9].Value, "4");
        EXPECT_TRUE(fields[0].Items.empty()) << "only lists are split";
    }

    std::vector<LogField> fields;
    ASSERT_TRUE(ParseLogLine(FormatLogLine(LogRecord()), &fields));
    ASSERT_EQ(fields.size(), 10u);
    EXPECT_TRUE(fields[5].Items.empty()) << "an empty list has no items, not one empty one";
    EXPECT_TRUE(fields[6].Items.empty());
}

TEST(LogLine, ReadsDamagedLinesWithoutGuessing)
{
    std::vector<LogField> fields(1);
    EXPECT_FALSE(ParseLogLine("", &fields));
    EXPECT_TRUE(fields.empty()) << "a refused line leaves nothing behind";
    EXPECT_FALSE(ParseLogLine("wceload", &fields));
    EXPECT_FALSE(ParseLogLine("WCELOAD\tcab=x", &fields));
    EXPECT_FALSE(ParseLogLine(" wceload\tcab=x", &fields));
    EXPECT_FALSE(ParseLogLine("wceloader\tcab=x", &fields));

    // A line cut short, a field without "=", escapes cut or not hex.
    ASSERT_TRUE(ParseLogLine("wceload\tcmdline=%2\tnoequals\tcab=%zz%4\tdest=%7c%7C\tfiles=a%7|b%\t", &fields));
    ASSERT_EQ(fields.size(), 6u);
    EXPECT_EQ(fields[0].Value, "%2");
    EXPECT_EQ(fields[1].Key, "noequals");
    EXPECT_EQ(fields[1].Value, "");
    EXPECT_EQ(fields[2].Value, "%zz%4");
    EXPECT_EQ(fields[3].Value, "||") << "either case of hex digit";
    EXPECT_EQ(fields[4].Items, (std::vector<std::string>{"a%7", "b%"}));
    EXPECT_EQ(fields[5].Key, "") << "a trailing tab is an empty field";

    EXPECT_EQ(UnescapeLogValue("%25%2541"), "%%41") << "undone once, not again";
    EXPECT_EQ(UnescapeLogValue("%00"), std::string(1, '\0'));
}

TEST(LogLine, TextConversions)
{
    EXPECT_EQ(ToUtf8(u"a\xD83D\xDE00" u"b"), "a\xF0\x9F\x98\x80" "b");
    EXPECT_EQ(ToUtf8(u"bad\xD800"), "bad\xEF\xBF\xBD");
    EXPECT_EQ(FromCodePage1252("\x80\xE9\x9F\x81"), Str(u"\u20AC\u00E9\u0178\u0081"));
}

} // namespace
