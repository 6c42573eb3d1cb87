// wine_test.cpp -- the cross-built wceload.exe under Wine.  Each test makes
// its CABs here (gcab, or our own writer for names gcab cannot store), has
// the bench run wceload_probe.exe in a fresh device root to stage files and
// registry values and start the installer as the setup program does, and
// then checks the root from this side: the files, the log, what is absent.
#include "ce000.h"
#include "rules.h"
#include "utf.h"
#include "../support/filebytes.h"
#include "../support/setupinfo_writer.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using testcab::Bytes;

namespace {

std::string Setting(const char *name, const char *fallback)
{
    const char *v = getenv(name);
    return v && *v ? v : fallback;
}

const std::string Bench = Setting("WCELOAD_BENCH", WCELOAD_BENCH_DEFAULT);
const std::string State = Setting("WCELOAD_STATE", WCELOAD_STATE_DEFAULT);
const std::string WinBin = Setting("WCELOAD_WINBIN", WCELOAD_WINBIN_DEFAULT);
const std::string Work = Setting("WCELOAD_WORK", WCELOAD_WORK_DEFAULT);

std::string WinPath(const fs::path &p)
{
    std::string s = "Z:" + fs::absolute(p).lexically_normal().string();
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

std::string Quote(const std::string &s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

using testsupport::ReadBytes;
using testsupport::WriteBytes;

Bytes Pattern(size_t n, unsigned seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(i * 7 + (i >> 9) + seed * 13);
    return b;
}

// One log line: key -> value, with %XX undone.
using LogLine = std::map<std::string, std::string>;

class Wine : public ::testing::Test {
protected:
    void SetUp() override
    {
        const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
        name_ = std::string("wceload_") + info->name();
        work_ = fs::path(Work) / name_;
        fs::remove_all(work_);
        fs::create_directories(work_);
        ASSERT_TRUE(fs::exists(fs::path(WinBin) / "wceload.exe")) << WinBin;
        ASSERT_TRUE(fs::exists(fs::path(WinBin) / "wceload_probe.exe")) << WinBin;
        ASSERT_TRUE(fs::exists(fs::path(State) / "env")) << "the bench is not started in " << State;
    }

    fs::path Root() const { return fs::path(State) / "roots" / name_; }

    // A CAB made by gcab from files (relative name -> content), MSZIP or stored.
    fs::path Gcab(const std::string &cab, const std::map<std::string, Bytes> &files, bool compress = true)
    {
        fs::path dir = work_ / (cab + ".files");
        std::string names;
        for (const auto &f : files) {
            fs::create_directories((dir / f.first).parent_path());
            WriteBytes(dir / f.first, f.second);
            names += " " + Quote(f.first);
        }
        fs::path out = work_ / cab;
        std::string command = "cd " + Quote(dir.string()) + " && gcab -c " + (compress ? "-z " : "") +
                              Quote(out.string()) + names + " >/dev/null";
        EXPECT_EQ(system(command.c_str()), 0) << command;
        return out;
    }

    fs::path Written(const std::string &cab, const Bytes &bytes)
    {
        fs::path out = work_ / cab;
        WriteBytes(out, bytes);
        return out;
    }

    // Runs the probe with these script lines; returns the probe's exit code
    // (the last wceload run's).
    int Run(const std::vector<std::string> &steps)
    {
        fs::path script = work_ / "script.txt", report = work_ / "report.txt";
        fs::remove(report);
        std::ofstream out(script, std::ios::binary);
        out << "report\t" << WinPath(report) << "\n";
        for (const std::string &s : steps)
            out << s << "\n";
        out.close();
        std::string command = Quote(Bench) + " run " + Quote(State) + " " + name_ + " " + Quote(WinBin) + " -- " +
                              Quote((fs::path(WinBin) / "wceload_probe.exe").string()) + " " +
                              Quote(WinPath(script));
        int status = system(command.c_str());
        std::stringstream text;
        text << std::ifstream(report, std::ios::binary).rdbuf();
        report_ = text.str();
        EXPECT_EQ(report_.find("error "), std::string::npos) << report_;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Exit codes of every wceload run, in order.
    std::vector<int> Exits() const
    {
        std::vector<int> codes;
        std::istringstream in(report_);
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("exit ", 0) == 0)
                codes.push_back(std::stoi(line.substr(5)));
        return codes;
    }

    // Registry values the probe dumped: "HKLM\key\name" -> "type\tdata".
    std::map<std::string, std::string> Values() const
    {
        std::map<std::string, std::string> values;
        std::istringstream in(report_);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("value ", 0) != 0)
                continue;
            size_t tab = line.find('\t');
            values[velkor::AsciiLower(line.substr(6, tab - 6))] = line.substr(tab + 1);
        }
        return values;
    }

    std::vector<LogLine> Log() const
    {
        std::vector<LogLine> lines;
        std::ifstream in(Root() / "windows" / "wceload.log", std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            EXPECT_TRUE(!line.empty() && line.back() == '\r') << "lines end in CRLF";
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::vector<wceload::LogField> fields;
            EXPECT_TRUE(wceload::ParseLogLine(line, &fields)) << "an installer line: " << line;
            LogLine parsed;
            std::vector<std::string> order;
            for (const wceload::LogField &f : fields) {
                order.push_back(f.Key);
                parsed[f.Key] = f.Value;
            }
            EXPECT_EQ(order, (std::vector<std::string>{"cmdline", "cab", "dest", "fAskDest", "asked", "files",
                                                       "skipped", "registry", "error", "exit"}));
            lines.push_back(parsed);
        }
        return lines;
    }

    // A path inside the root, found without regard to letter case, as the
    // device's file system would.
    fs::path Find(const std::string &devicePath) const
    {
        fs::path p = Root();
        std::string rest = devicePath;
        std::replace(rest.begin(), rest.end(), '\\', '/');
        std::istringstream parts(rest);
        std::string part;
        while (std::getline(parts, part, '/')) {
            if (part.empty())
                continue;
            fs::path next = p / part;
            if (!fs::exists(next) && fs::is_directory(p))
                for (const auto &e : fs::directory_iterator(p))
                    if (velkor::AsciiLower(e.path().filename().string()) == velkor::AsciiLower(part))
                        next = e.path();
            p = next;
        }
        return p;
    }

    // Everything in the root, as "relative/path" and "relative/dir/".
    std::set<std::string> Tree() const
    {
        std::set<std::string> all;
        for (const auto &e : fs::recursive_directory_iterator(Root())) {
            std::string rel = fs::relative(e.path(), Root()).string();
            all.insert(e.is_directory() ? rel + "/" : rel);
        }
        return all;
    }

    std::set<std::string> BareRoot(std::initializer_list<std::string> extra) const
    {
        std::set<std::string> all = {"windows/", "windows/wceload.exe", "windows/wceload.log", "Program Files/"};
        all.insert(extra.begin(), extra.end());
        return all;
    }

    std::string name_;
    fs::path work_;
    std::string report_;
};

std::string Copy(const fs::path &from, const std::string &to) { return "copy\t" + WinPath(from) + "\t" + to; }

const std::string InstallKey = "hklm\\software\\apps\\microsoft application installer";

TEST_F(Wine, PlainExtractionIsByteIdentical)
{
    std::map<std::string, Bytes> files = {
        {"readme.txt", testcab::Text("Hello.\r\n")},
        {"empty.dat", {}},
        {"sub/deeper/data.bin", Pattern(200000, 1)},   // several CFDATA blocks
        {"sub/\xC3\x9C" "ber \xE6\x97\xA5\xE6\x9C\xAC.txt", Pattern(5000, 2)},
    };
    fs::path cab = Gcab("app.cab", files);
    int rc = Run({"askdest\tdelete", "mkdir\t\\My Documents", Copy(cab, "\\My Documents\\my app.cab"),
                  "run\t\\My Documents\\my app.cab"});
    EXPECT_EQ(rc, 0) << report_;
    for (const auto &f : files) {
        fs::path p = Root() / "Program Files" / "my app" / f.first;
        ASSERT_TRUE(fs::exists(p)) << f.first;
        EXPECT_EQ(ReadBytes(p), f.second) << f.first;
    }
    std::vector<LogLine> log = Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["cmdline"], "\\My Documents\\my app.cab");
    EXPECT_EQ(log[0]["cab"], "\\My Documents\\my app.cab");
    EXPECT_EQ(log[0]["dest"], "\\Program Files\\my app");
    EXPECT_EQ(log[0]["fAskDest"], "missing");
    EXPECT_EQ(log[0]["asked"], "no");
    std::string listed = log[0]["files"];
    std::replace(listed.begin(), listed.end(), '\\', '/');
    std::set<std::string> names;
    std::istringstream parts(listed);
    std::string part;
    while (std::getline(parts, part, '|'))
        names.insert(part);
    std::set<std::string> expected;
    for (const auto &f : files)
        expected.insert(f.first);
    EXPECT_EQ(names, expected);
    EXPECT_EQ(log[0]["error"], "");
    EXPECT_EQ(log[0]["exit"], "0");
    // The CAB stays, and nothing else appeared (no staging folder left).
    std::set<std::string> tree = Tree();
    EXPECT_TRUE(tree.count("My Documents/my app.cab"));
    for (const std::string &t : tree)
        EXPECT_EQ(t.find("~wceload"), std::string::npos) << t;
}

TEST_F(Wine, BenchFixtureSpanningSeveralChunks)
{
    fs::path fixtures = fs::path(State) / "fixtures";
    int rc = Run({Copy(fixtures / "big.cab", "\\kCABFILE.cab"), "askdest\tdelete",
                  "uninstall\t\\kCABFILE.cab", "runnone"});
    EXPECT_EQ(rc, 0) << report_;
    EXPECT_EQ(ReadBytes(Root() / "Program Files" / "kCABFILE" / "data.bin"),
              ReadBytes(fixtures / "files" / "big" / "data.bin"));
}

TEST_F(Wine, DestinationComesFromTheRegistryOnlyWithoutCommandLine)
{
    fs::path cab = Gcab("k.cab", {{"a.txt", testcab::Text("first")}, {"sub/b.txt", testcab::Text("second")}});
    int rc = Run({Copy(cab, "\\kCABFILE.cab"), "askdest\t1",
                  "install\t\\kCABFILE.cab\t\\Storage Card\\My Apps\\Dest",
                  "runnone",
                  // A command line is the default case: the value is left alone.
                  "run\t\\kCABFILE.cab",
                  // /noaskdest reads the value named by the given path.
                  "run\t/noaskdest \\kCABFILE.cab",
                  "runshell\t\"\\windows\\wceload.exe\" /noaskdest \"\\kCABFILE.cab\"",
                  "uninstall\t\\kCABFILE.cab", "askdest\tdelete"});
    EXPECT_EQ(rc, 0) << report_;
    EXPECT_EQ(Exits(), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(ReadBytes(Find("\\Storage Card\\My Apps\\Dest\\a.txt")), testcab::Text("first"));
    EXPECT_EQ(ReadBytes(Find("\\Storage Card\\My Apps\\Dest\\sub\\b.txt")), testcab::Text("second"));
    EXPECT_EQ(ReadBytes(Find("\\Program Files\\kCABFILE\\sub\\b.txt")), testcab::Text("second"));
    EXPECT_TRUE(fs::exists(Root() / "kCABFILE.cab")) << "the CAB is the setup program's to delete";
    std::vector<LogLine> log = Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0]["cmdline"], "");
    EXPECT_EQ(log[0]["cab"], "\\kCABFILE.cab");
    EXPECT_EQ(log[0]["dest"], "\\Storage Card\\My Apps\\Dest");
    EXPECT_EQ(log[0]["fAskDest"], "1");
    EXPECT_EQ(log[0]["asked"], "no");
    EXPECT_EQ(log[0]["files"], "a.txt|sub\\b.txt");
    EXPECT_EQ(log[1]["cmdline"], "\\kCABFILE.cab");
    EXPECT_EQ(log[1]["dest"], "\\Program Files\\kCABFILE");
    EXPECT_EQ(log[1]["asked"], "yes");
    EXPECT_EQ(log[2]["dest"], "\\Storage Card\\My Apps\\Dest");
    EXPECT_EQ(log[2]["asked"], "no");
    EXPECT_EQ(log[3]["cmdline"], "/noaskdest \"\\kCABFILE.cab\"");
    EXPECT_EQ(log[3]["cab"], "\\kCABFILE.cab");
    EXPECT_EQ(log[3]["dest"], "\\Storage Card\\My Apps\\Dest");
}

TEST_F(Wine, AskDestIsLoggedAsFound)
{
    fs::path cab = Gcab("k.cab", {{"a.txt", testcab::Text("a")}});
    Run({Copy(cab, "\\kCABFILE.cab"), "uninstall\t\\kCABFILE.cab",
         "askdest\tdelete", "runnone",
         "askdest\t1", "runnone",
         "askdest\t0", "run\t/askdest \\kCABFILE.cab",
         "askdest\t7", "run\t/noui \\kCABFILE.cab",
         "askdest\t1", "run\t/silent \\kCABFILE.cab",
         "askdest\t1", "run\t/noaskdest \\kCABFILE.cab",
         "askdest\tnot a number", "runnone",
         "install\t\\kCABFILE.cab\t\\Elsewhere", "askdest\t1", "runnone",
         "uninstall\t\\kCABFILE.cab", "askdest\tdelete"});
    EXPECT_EQ(Exits(), (std::vector<int>(8, 0)));
    const struct {
        const char *found, *asked, *dest;
    } expected[] = {
        {"missing", "no", "\\Program Files\\kCABFILE"}, {"1", "yes", "\\Program Files\\kCABFILE"},
        {"0", "yes", "\\Program Files\\kCABFILE"},      {"7", "no", "\\Program Files\\kCABFILE"},
        {"1", "no", "\\Program Files\\kCABFILE"},       {"1", "no", "\\Program Files\\kCABFILE"},
        {"invalid", "no", "\\Program Files\\kCABFILE"}, {"1", "no", "\\Elsewhere"},
    };
    std::vector<LogLine> log = Log();
    ASSERT_EQ(log.size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(log[i]["fAskDest"], expected[i].found) << i;
        EXPECT_EQ(log[i]["asked"], expected[i].asked) << i;
        EXPECT_EQ(log[i]["dest"], expected[i].dest) << i;
    }
}

TEST_F(Wine, EachFailureHasItsExitCodeAndLeavesNothing)
{
    fs::path good = Gcab("good.cab", {{"a.txt", Pattern(70000, 3)}, {"b.txt", Pattern(90000, 4)}});
    Bytes whole = ReadBytes(good);
    Bytes truncated(whole.begin(), whole.begin() + whole.size() / 2);
    Bytes damaged = whole;
    damaged[damaged.size() - 100] ^= 0x55;   // inside the MSZIP data
    fs::path cut = Written("cut.cab", truncated);
    fs::path bad = Written("bad.cab", damaged);
    fs::path text = Written("text.cab", testcab::Text("this is not a cabinet file at all, just text\r\n"));
    fs::path empty = Written("empty.cab", testcab::WriteCab({}));
    fs::path hostile = Written("hostile.cab", testcab::WriteCab({{"ok.txt", testcab::Text("ok")},
                                                                 {"..\\evil.txt", testcab::Text("evil")}}));
    struct Row {
        std::vector<std::string> steps;
        int code;
        const char *error;
    };
    const Row rows[] = {
        {{"run\t/bogus \\good.cab"}, 1, "unknown option"},
        {{"run\t/delete"}, 1, "needs a value"},
        {{"run\t/delete 5 \\good.cab"}, 1, "bad option value"},
        {{"run\t/noui  "}, 1, "no CAB path"},
        {{"run\t\\not here.cab"}, 2, "cannot open"},
        {{"run\t\\Program Files"}, 2, "cannot open"},
        {{"run\t\\text.cab"}, 3, "not a cabinet"},
        {{"run\t\\cut.cab"}, 3, ""},
        {{"run\t\\bad.cab"}, 3, ""},
        {{"run\t\\empty.cab"}, 6, "no file"},
        {{"run\t\\hostile.cab"}, 4, "climbs"},
        {{"write\t\\Program Files\\good\tin the way", "run\t\\good.cab"}, 5, "in the way"},
        {{"install\t\\good.cab\tC:\\evil", "run\t/noaskdest \\good.cab", "uninstall\t\\good.cab"}, 7, "destination"},
        {{"install\t\\good.cab\t\\a\\..\\..\\evil", "run\t/noaskdest \\good.cab", "uninstall\t\\good.cab"}, 7, ""},
    };
    std::vector<std::string> steps = {"askdest\tdelete", Copy(good, "\\good.cab"), Copy(cut, "\\cut.cab"),
                                      Copy(bad, "\\bad.cab"), Copy(text, "\\text.cab"), Copy(empty, "\\empty.cab"),
                                      Copy(hostile, "\\hostile.cab")};
    for (const Row &row : rows)
        steps.insert(steps.end(), row.steps.begin(), row.steps.end());
    Run(steps);
    std::vector<int> exits = Exits();
    std::vector<LogLine> log = Log();
    ASSERT_EQ(exits.size(), std::size(rows));
    ASSERT_EQ(log.size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(exits[i], rows[i].code) << i;
        EXPECT_EQ(log[i]["exit"], std::to_string(rows[i].code)) << i;
        EXPECT_NE(log[i]["error"], "") << i;
        EXPECT_NE(log[i]["error"].find(rows[i].error), std::string::npos) << i << ": " << log[i]["error"];
        EXPECT_EQ(log[i]["files"], "") << i;
    }
    EXPECT_EQ(Tree(), BareRoot({"good.cab", "cut.cab", "bad.cab", "text.cab", "empty.cab", "hostile.cab",
                                "Program Files/good"}));
}

// Hostile member names: refused before anything is written.
TEST_F(Wine, HostileMembersLeaveNothingOutsideTheDestination)
{
    const std::string hostile[] = {
        "..\\evil.txt", "../evil.txt", "sub\\..\\..\\evil.txt", "sub/../../../evil.txt", "\\evil.txt", "/evil.txt",
        "C:evil.txt", "C:\\evil.txt", "\\\\?\\Z:\\tmp\\wceload-evil.txt", "\\\\.\\NUL", "\\\\server\\share\\x",
        "CON", "nul.txt", "sub\\aux.log", "COM1.bin", "LPT9", "ok.txt:stream", "trail.", "trail ", "dir \\x.txt",
        "a\\\\b.txt", std::string(300, 'x'), std::string(120, 'y') + "\\" + std::string(140, 'z'),
        "ok.txt",       // repeats the first member
        "OK.TXT",       // repeats it in other letters
        "ok.txt\\x",    // a folder over a file
        "bad|char.txt",
        "//server/share/x", "\\\\.\\PhysicalDrive0", "sub/..\\..\\evil.txt", "..", "sub\\.\\x.txt",
        "NUL", "aux.", "con .txt", "ok.txt::$DATA", "D:", "ctl\x01.txt", "lpt1.tar.gz",
    };
    std::vector<std::string> steps = {"askdest\tdelete"};
    std::set<std::string> cabs;
    int n = 0;
    for (const std::string &name : hostile) {
        std::string cab = "h" + std::to_string(n++) + ".cab";
        Written(cab, testcab::WriteCab({{"ok.txt", testcab::Text("fine")}, {name, testcab::Text("evil")},
                                        {"last.txt", testcab::Text("fine")}}));
        steps.push_back(Copy(work_ / cab, "\\" + cab));
        steps.push_back("run\t\\" + cab);
        cabs.insert(cab);
    }
    // One made by gcab (MSZIP) with its name patched in place.
    fs::path patched = Gcab("patched.cab", {{"ok.txt", testcab::Text("fine")}, {"ab/evil.txt", testcab::Text("evil")}});
    Bytes bytes = ReadBytes(patched);
    std::string raw(bytes.begin(), bytes.end());
    size_t at = raw.find("ab\\evil.txt");
    ASSERT_NE(at, std::string::npos);
    bytes[at] = '.', bytes[at + 1] = '.';
    WriteBytes(patched, bytes);
    steps.push_back(Copy(patched, "\\patched.cab"));
    steps.push_back("run\t\\patched.cab");
    cabs.insert("patched.cab");

    Run(steps);
    std::vector<int> exits = Exits();
    ASSERT_EQ(exits.size(), std::size(hostile) + 1);
    for (size_t i = 0; i < exits.size(); ++i)
        EXPECT_EQ(exits[i], 4) << (i < std::size(hostile) ? hostile[i] : "patched");
    std::set<std::string> expected = BareRoot({});
    expected.insert(cabs.begin(), cabs.end());
    EXPECT_EQ(Tree(), expected);
    EXPECT_FALSE(fs::exists("/tmp/wceload-evil.txt"));
    EXPECT_FALSE(fs::exists(Root().parent_path() / "evil.txt"));
}

TEST_F(Wine, DeleteOptionRemovesTheCab)
{
    fs::path cab = Gcab("k.cab", {{"a.txt", testcab::Text("a")}});
    Run({"askdest\tdelete", Copy(cab, "\\one.cab"), Copy(cab, "\\two.cab"), Copy(cab, "\\three.cab"),
         "run\t/delete 1 \\one.cab", "run\t/delete 0 \\two.cab", "run\t/nodelete \\three.cab"});
    EXPECT_EQ(Exits(), (std::vector<int>{0, 0, 0}));
    EXPECT_FALSE(fs::exists(Root() / "one.cab"));
    EXPECT_TRUE(fs::exists(Root() / "two.cab"));
    EXPECT_TRUE(fs::exists(Root() / "three.cab"));
}

// ---- device CABs with a setup-information file ----

testcab::SetupInfoSpec DeviceSpec()
{
    using namespace testcab;
    SetupInfoSpec s;
    s.appName = "Test Tool";
    s.provider = "Acme";
    s.padToFour = true;
    s.strings = {{1, "%CE1%"}, {2, "Test Tool"}, {3, "Data"}, {4, "%CE2%"}, {5, "%CE11%"}, {6, "Test Tool.lnk"},
                 {7, "Software\\WceloadTest"}, {8, "%CE5%\\Samples"}};
    s.dirs = {{10, {1, 2}}, {11, {1, 2, 3}}, {12, {4}}, {13, {8}}};
    s.files = {{1, 10, 0, "tool.exe"},
               {2, 11, 0, "data.bin"},
               {3, 12, 0, "wcetest.dll"},
               {4, 13, 0, "sample.txt"},
               {5, 10, wceload::CeFileNeverOverwrite, "settings.ini"}};
    s.hives = {{20, 3, {7}}, {21, 2, {7}}};
    s.values = {{30, 20, 1, wceload::CeRegString, "Path", Text(std::string("%InstallDir%\\tool.exe\0", 22))},
                {31, 20, 0, wceload::CeRegDword, "Runs", Dword(42)},
                {32, 21, 1, wceload::CeRegMultiString, "Dirs", Text(std::string("%CE2%\0%InstallDir%\0\0", 20))},
                {33, 21, 0, wceload::CeRegBinary, "Blob", {0xDE, 0xAD}}};
    s.links = {{40, 11, 1, 1, {6}}};
    return s;
}

std::vector<testcab::CabMember> DeviceMembers(const testcab::SetupInfoSpec &recipe)
{
    return {{"TOOL~1.001", Pattern(40000, 5)}, {"0CAB4FED.000", testcab::WriteSetupInfo(recipe)},
            {"DATA~1.002", Pattern(3000, 6)},  {"WCETEST.003", Pattern(100, 7)},
            {"SAMPLE.004", testcab::Text("sample")}, {"SETTINGS.005", testcab::Text("[new]")},
            {"_setup.xml", testcab::Text("<wap-provisioningdoc/>")}};
}

const char *DeviceCleanup[] = {"delkey\tHKLM\tSoftware\\WceloadTest", "delkey\tHKCU\tSoftware\\WceloadTest",
                               "delkey\tHKLM\tSOFTWARE\\Apps\\Acme Test Tool"};

TEST_F(Wine, DeviceCabInstallsWhereItsSetupInformationSays)
{
    std::vector<testcab::CabMember> members = DeviceMembers(DeviceSpec());
    fs::path cab = Written("device.cab", testcab::WriteCab(members));
    std::vector<std::string> steps(std::begin(DeviceCleanup), std::end(DeviceCleanup));
    steps.insert(steps.end(), {"askdest\tdelete", Copy(cab, "\\kCABFILE.cab"), "uninstall\t\\kCABFILE.cab",
                               "mkdir\t\\My Documents", "mkdir\t\\My Documents\\Samples",
                               "write\t\\My Documents\\Samples\\keep.txt\tkeep",
                               "run\t\\kCABFILE.cab",
                               "dump\tHKLM\tSoftware\\WceloadTest", "dump\tHKCU\tSoftware\\WceloadTest",
                               "dump\tHKLM\tSOFTWARE\\Apps\\Acme Test Tool"});
    steps.insert(steps.end(), std::begin(DeviceCleanup), std::end(DeviceCleanup));
    EXPECT_EQ(Run(steps), 0) << report_;

    EXPECT_EQ(ReadBytes(Find("\\Program Files\\Test Tool\\tool.exe")), members[0].data);
    EXPECT_EQ(ReadBytes(Find("\\Program Files\\Test Tool\\Data\\data.bin")), members[2].data);
    EXPECT_EQ(ReadBytes(Find("\\Windows\\wcetest.dll")), members[3].data);
    EXPECT_EQ(ReadBytes(Find("\\My Documents\\Samples\\sample.txt")), members[4].data);
    EXPECT_EQ(ReadBytes(Find("\\Program Files\\Test Tool\\settings.ini")), members[5].data);
    EXPECT_EQ(ReadBytes(Find("\\Windows\\Start Menu\\Programs\\Test Tool.lnk")),
              testcab::Text("35#\"\\Program Files\\Test Tool\\tool.exe\""));
    EXPECT_FALSE(fs::exists(Find("\\Program Files\\Test Tool\\_setup.xml")));
    EXPECT_EQ(ReadBytes(Find("\\My Documents\\Samples\\keep.txt")), testcab::Text("keep"));
    EXPECT_FALSE(fs::exists(Find("\\Program Files\\Test Tool\\0CAB4FED.000")));

    std::map<std::string, std::string> values = Values();
    EXPECT_EQ(values["hklm\\software\\wceloadtest\\path"], "sz\t\\Program Files\\Test Tool\\tool.exe");
    EXPECT_EQ(values["hklm\\software\\wceloadtest\\runs"], "dword\t42");
    EXPECT_EQ(values["hkcu\\software\\wceloadtest\\dirs"], "multi\t\\Windows|\\Program Files\\Test Tool||");
    EXPECT_EQ(values["hkcu\\software\\wceloadtest\\blob"], "binary\tdead");
    EXPECT_EQ(values["hklm\\software\\apps\\acme test tool\\instl"], "dword\t1");
    EXPECT_EQ(values["hklm\\software\\apps\\acme test tool\\instldir"], "sz\t\\Program Files\\Test Tool");
    EXPECT_EQ(values["hklm\\software\\apps\\acme test tool\\cabfile"], "sz\t\\kCABFILE.cab");

    std::vector<LogLine> log = Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["dest"], "\\Program Files\\Test Tool");
    EXPECT_EQ(log[0]["files"], "tool.exe|Data\\data.bin|\\Windows\\wcetest.dll|\\My Documents\\Samples\\sample.txt|"
                               "settings.ini|\\Windows\\Start Menu\\Programs\\Test Tool.lnk");
    EXPECT_EQ(log[0]["registry"], "7");
}

TEST_F(Wine, DeviceCabUnderAGivenDestinationWithOptions)
{
    std::vector<testcab::CabMember> members = DeviceMembers(DeviceSpec());
    fs::path cab = Written("device.cab", testcab::WriteCab(members));
    std::vector<std::string> steps(std::begin(DeviceCleanup), std::end(DeviceCleanup));
    steps.insert(steps.end(), {"askdest\t1", Copy(cab, "\\kCABFILE.cab"),
                               "install\t\\kCABFILE.cab\t\\Storage Card\\Tools",
                               "mkdir\t\\Storage Card", "mkdir\t\\Storage Card\\Tools",
                               "write\t\\Storage Card\\Tools\\settings.ini\tmine",
                               "runnone",
                               "run\t/nouninstall /noaskdest \\kCABFILE.cab",
                               "dump\tHKLM\tSoftware\\WceloadTest", "dump\tHKLM\tSOFTWARE\\Apps\\Acme Test Tool",
                               "uninstall\t\\kCABFILE.cab", "askdest\tdelete"});
    steps.insert(steps.end(), std::begin(DeviceCleanup), std::end(DeviceCleanup));
    Run(steps);
    EXPECT_EQ(Exits(), (std::vector<int>{0, 0})) << report_;
    EXPECT_EQ(ReadBytes(Find("\\Storage Card\\Tools\\tool.exe")), members[0].data);
    EXPECT_EQ(ReadBytes(Find("\\Storage Card\\Tools\\Data\\data.bin")), members[2].data);
    EXPECT_EQ(ReadBytes(Find("\\Storage Card\\Tools\\settings.ini")), testcab::Text("mine"));
    EXPECT_EQ(ReadBytes(Find("\\Windows\\wcetest.dll")), members[3].data);
    EXPECT_FALSE(fs::exists(Find("\\Program Files\\Test Tool")));
    EXPECT_EQ(ReadBytes(Find("\\Windows\\Start Menu\\Programs\\Test Tool.lnk")),
              testcab::Text("30#\"\\Storage Card\\Tools\\tool.exe\""));
    std::map<std::string, std::string> values = Values();
    EXPECT_EQ(values["hklm\\software\\wceloadtest\\path"], "sz\t\\Storage Card\\Tools\\tool.exe");
    // Recorded by the first run; the second, with /nouninstall, wrote no record
    // of its own, so the record still names the first run's CAB.
    EXPECT_EQ(values["hklm\\software\\apps\\acme test tool\\instldir"], "sz\t\\Storage Card\\Tools");
    std::vector<LogLine> log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0]["dest"], "\\Storage Card\\Tools");
    EXPECT_EQ(log[0]["asked"], "no");
    EXPECT_EQ(log[0]["skipped"], "settings.ini");
    EXPECT_EQ(log[0]["registry"], "7");
    EXPECT_EQ(log[1]["registry"], "4");
}

TEST_F(Wine, MalformedSetupInformationWritesNothing)
{
    using testcab::SetupInfoSpec;
    struct Row {
        const char *what;
        std::function<void(SetupInfoSpec &)> change;
    };
    const Row rows[] = {
        {"folder climbs out", [](SetupInfoSpec &s) { s.strings[1].text = "..\\..\\Escaped"; }},
        {"undefined macro", [](SetupInfoSpec &s) { s.strings[0].text = "%CE9%"; }},
        {"unknown string id", [](SetupInfoSpec &s) { s.dirs[0].ids = {1, 99}; }},
        {"file climbs out", [](SetupInfoSpec &s) { s.files[2].name = "..\\..\\evil.dll"; }},
        {"file not in the CAB", [](SetupInfoSpec &s) { s.files[0].fileNumber = 77; }},
        {"shortcut to nothing", [](SetupInfoSpec &s) { s.links[0].target = 99; }},
        {"undefined macro in a value", [](SetupInfoSpec &s) { s.values[0].value = testcab::Text("%CE8%"); }},
    };
    std::vector<std::string> steps(std::begin(DeviceCleanup), std::end(DeviceCleanup));
    steps.push_back("askdest\tdelete");
    std::set<std::string> cabs;
    int n = 0;
    for (const Row &row : rows) {
        SetupInfoSpec recipe = DeviceSpec();
        row.change(recipe);
        std::string cab = "m" + std::to_string(n++) + ".cab";
        Written(cab, testcab::WriteCab(DeviceMembers(recipe)));
        steps.push_back(Copy(work_ / cab, "\\" + cab));
        steps.push_back("run\t\\" + cab);
        cabs.insert(cab);
    }
    // Lengths past its end: the .000 cut short.
    std::vector<testcab::CabMember> members = DeviceMembers(DeviceSpec());
    members[1].data.resize(members[1].data.size() - 6);
    Written("short.cab", testcab::WriteCab(members));
    steps.push_back(Copy(work_ / "short.cab", "\\short.cab"));
    steps.push_back("run\t\\short.cab");
    cabs.insert("short.cab");
    steps.push_back("dump\tHKLM\tSoftware\\WceloadTest");
    steps.push_back("dump\tHKCU\tSoftware\\WceloadTest");
    steps.push_back("dump\tHKLM\tSOFTWARE\\Apps\\Acme Test Tool");

    Run(steps);
    EXPECT_EQ(Exits(), std::vector<int>(std::size(rows) + 1, 8)) << report_;
    for (LogLine &line : Log()) {
        EXPECT_EQ(line["exit"], "8");
        EXPECT_EQ(line["dest"], "") << "no install folder without a readable .000";
        EXPECT_NE(line["error"], "");
    }
    std::set<std::string> expected = BareRoot({});
    expected.insert(cabs.begin(), cabs.end());
    EXPECT_EQ(Tree(), expected);
    EXPECT_TRUE(Values().empty()) << report_;
}

// A step that fails after some files are in place takes them back and puts
// back the files they replaced.
TEST_F(Wine, FailureWhilePlacingRestoresWhatWasThere)
{
    Written("roll.cab", testcab::WriteCab({{"b.txt", testcab::Text("new b")},
                                           {"c.txt", testcab::Text("new c")},
                                           {"a.txt", testcab::Text("blocked")}}));
    std::vector<testcab::CabMember> members = DeviceMembers(DeviceSpec());
    Written("device.cab", testcab::WriteCab(members));
    std::vector<std::string> steps(std::begin(DeviceCleanup), std::end(DeviceCleanup));
    steps.insert(steps.end(),
                 {"askdest\tdelete", Copy(work_ / "roll.cab", "\\roll.cab"), Copy(work_ / "device.cab", "\\device.cab"),
                  "mkdir\t\\Program Files\\roll", "write\t\\Program Files\\roll\\b.txt\told b",
                  "mkdir\t\\Program Files\\roll\\a.txt",
                  "run\t\\roll.cab",
                  // The shortcut's place is taken by a folder: every file goes back.
                  "write\t\\Windows\\wcetest.dll\told dll", "mkdir\t\\Windows\\Start Menu",
                  "mkdir\t\\Windows\\Start Menu\\Programs", "mkdir\t\\Windows\\Start Menu\\Programs\\Test Tool.lnk",
                  "run\t\\device.cab",
                  "dump\tHKLM\tSoftware\\WceloadTest", "dump\tHKLM\tSOFTWARE\\Apps\\Acme Test Tool"});
    steps.insert(steps.end(), std::begin(DeviceCleanup), std::end(DeviceCleanup));
    Run(steps);
    EXPECT_EQ(Exits(), (std::vector<int>{5, 5})) << report_;
    EXPECT_EQ(Tree(), BareRoot({"roll.cab", "device.cab", "Program Files/roll/", "Program Files/roll/b.txt",
                                "Program Files/roll/a.txt/", "windows/wcetest.dll", "windows/Start Menu/",
                                "windows/Start Menu/Programs/", "windows/Start Menu/Programs/Test Tool.lnk/"}));
    EXPECT_EQ(ReadBytes(Root() / "Program Files" / "roll" / "b.txt"), testcab::Text("old b"));
    EXPECT_EQ(ReadBytes(Root() / "windows" / "wcetest.dll"), testcab::Text("old dll"));
    EXPECT_TRUE(Values().empty()) << report_;
    std::vector<LogLine> log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[0]["error"].find("in the way"), std::string::npos) << log[0]["error"];
    EXPECT_EQ(log[0]["files"], "");
    EXPECT_EQ(log[1]["files"], "");
    EXPECT_EQ(log[1]["registry"], "0");
}

} // namespace
