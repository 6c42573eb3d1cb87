// diag_test.cpp -- every fault in a manifest is reported at its exact
// FILE:LINE:COL by build and by lint; -D values fill ${NAME}; lint reports
// every finding at its place and a manifest can switch checks off.
#include "tooltest.h"

#include <nlohmann/json.hpp>

#include <functional>

using namespace tooltest;

namespace {

// Line numbers below count in this text.
const char *const Good = R"([package]
name = "Tool"
company = "Acme"
pages = ["welcome", "agreement", "ready"]

[[component]]
name = "Main"
cab = "main.cab"

[texts]
agreement_body = { file = "eula.txt" }
welcome_body = """<p>Hello
   from Acme</p>"""
)";

struct PlaceCase {
    const char *name;
    std::string manifest;
    std::function<void(const fs::path &)> arrange;   // may be null
    std::vector<std::string> extra;                  // after the usual arguments
    int code;
    const char *line;   // the whole first line of stderr; "" : no such line (lint sees a finding)
    int lintCode;
};

std::vector<PlaceCase> PlaceCases()
{
    return {
        {"Syntax", Replace(Good, "name = \"Tool\"", "name = \"Tool"), nullptr, {}, 4,
         "app.toml:2:13: error: Error while parsing string: unescaped control characters other than TAB (U+0009) are "
         "explicitly prohibited", 4},
        {"UnknownKey", Replace(Good, "company = \"Acme\"\n", "company = \"Acme\"\n  colour = \"red\"\n"), nullptr, {}, 4,
         "app.toml:4:3: error: package.colour: unknown key (expected one of: name, company, destination, "
         "use_default_location, require_install_argument, pages)", 4},
        {"BadValue", Replace(Good, "company = \"Acme\"\n", "company = \"Acme\"\nuse_default_location = \"yes\"\n"), nullptr,
         {}, 4, "app.toml:4:24: error: package.use_default_location: expected true or false, found a string", 4},
        {"BadValueInALanguage", Replace(Good, "[texts]\n", "[texts.de]\nwelcome_title = 7\n[texts]\n"), nullptr, {}, 4,
         "app.toml:11:17: error: texts.de.welcome_title: expected a string or { file = \"...\" }, found an integer", 4},
        {"UnknownTextInALanguage", Replace(Good, "[texts]\n", "[texts.de]\n  welcome_titel = \"Hallo\"\n[texts]\n"),
         nullptr, {}, 4, "app.toml:11:3: error: texts.de.welcome_titel: unknown text (README.md lists the thirty text names)", 4},
        {"UnknownLintCheck", std::string(Good) + "[lint]\ndisable = [\"html\", \"htlm\"]\n", nullptr, {}, 4,
         "app.toml:15:20: error: lint.disable: unknown check 'htlm' (checks: text-count, undefined-placeholder, "
         "destination-empty, destination-too-long, destination-invalid, placeholder-in-name, duplicate-component, "
         "page-flags, unreachable-page, location-without-destination, no-destination-component, nothing-selected, "
         "agreement-missing, space-placeholder-missing, html, not-a-cab, not-a-device-cab, cab-unchecked, "
         "bad-setup-info, desktop-stub, text-fit)", 4},
        {"MissingCab", Good, [](const fs::path &d) { fs::remove(d / "main.cab"); }, {}, 3,
         "app.toml:8:7: error: cannot read CAB file 'main.cab': No such file or directory [component 1 'Main']", 3},
        {"CabIsAFolder", Good, [](const fs::path &d) { fs::remove(d / "main.cab"); fs::create_directory(d / "main.cab"); },
         {}, 3, "app.toml:8:7: error: cannot read CAB file 'main.cab': not a regular file [component 1 'Main']", 3},
        {"MissingTextFile", Good, [](const fs::path &d) { fs::remove(d / "eula.txt"); }, {}, 3,
         "app.toml:11:27: error: cannot read text file 'eula.txt': No such file or directory [texts.agreement_body]", 3},
        {"TextFileIsAFolder", Good, [](const fs::path &d) { fs::remove(d / "eula.txt"); fs::create_directory(d / "eula.txt"); },
         {}, 3, "app.toml:11:27: error: cannot read text file 'eula.txt': not a regular file [texts.agreement_body]", 3},
        {"CabIsNotACab", Good, [](const fs::path &d) { WriteText(d / "main.cab", std::string(64, 'x')); }, {}, 5,
         "app.toml:8:7: error: 'main.cab' is not a CAB file (it does not start with \"MSCF\") [component 1 'Main']", 9},
        // On the second line of a multi-line string, after other text.
        {"UndefinedName", Replace(Good, "   from Acme", "   from ${WHO} and ${WHERE}"), nullptr, {"-D", "WHO=us"}, 4,
         "app.toml:13:20: error: texts.welcome_body: ${WHERE} is not defined (give it with -D WHERE=VALUE)", 4},
        {"UndefinedNameInAKey'sValue", Replace(Good, "cab = \"main.cab\"", "cab = \"${CABS}/main.cab\""), nullptr, {}, 4,
         "app.toml:8:8: error: component.cab: ${CABS} is not defined (give it with -D CABS=VALUE)", 4},
        {"DefineWithoutValue", Good, nullptr, {"-D", "VERSION"}, 2,
         "velkor: error: -D VERSION: expected NAME=VALUE, NAME a letter or '_' then letters, digits or '_'", 2},
        {"DefineBadName", Good, nullptr, {"-D", "1X=2"}, 2,
         "velkor: error: -D 1X=2: expected NAME=VALUE, NAME a letter or '_' then letters, digits or '_'", 2},
    };
}

class PlaceTest : public ToolTest, public ::testing::WithParamInterface<PlaceCase> {};

TEST_P(PlaceTest, BuildAndLintReportTheExactPlace)
{
    const PlaceCase &c = GetParam();
    WriteSpoiledInputs(dir, c.manifest, 500, c.arrange);
    std::vector<std::string> before = Listing(dir);

    std::vector<std::string> build{"build", "app.toml", "--stub", "setup.exe", "-o", "out.exe"};
    build.insert(build.end(), c.extra.begin(), c.extra.end());
    Result b = Velkor(build, dir);
    EXPECT_EQ(b.code, c.code) << b.err;
    EXPECT_EQ(b.err, std::string(c.line) + "\n");
    EXPECT_EQ(Listing(dir), before);

    std::vector<std::string> lint{"lint", "app.toml"};
    lint.insert(lint.end(), c.extra.begin(), c.extra.end());
    Result l = Velkor(lint, dir);
    EXPECT_EQ(l.code, c.lintCode) << l.err << l.out;
    if (c.lintCode == 9) {   // for lint a component that is no CAB is a finding, at the same place
        std::string where = std::string(c.line).substr(0, std::string(c.line).find(": error: "));
        EXPECT_EQ(l.out.rfind(where + ": warning: component 1 'Main': ", 0), 0u) << l.out;
    } else {
        EXPECT_EQ(l.err, std::string(c.line) + "\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Manifest, PlaceTest, ::testing::ValuesIn(PlaceCases()),
                         [](const auto &info) {
                             std::string n = info.param.name;
                             n.erase(std::remove(n.begin(), n.end(), '\''), n.end());
                             return n;
                         });

TEST_F(ToolTest, DefinesFillEveryString)
{
    WriteBytes(dir / "setup.exe", Stub());
    fs::create_directory(dir / "cabs");
    MakeCab(dir / "cabs" / "main.cab", Prose(100));
    WriteText(dir / "app.toml", R"([package]
name = "Tool ${VERSION}"
company = "${COMPANY}"
pages = ["welcome"]

[[component]]
name = "Main"
cab = "${CABS}/main.cab"

[texts]
welcome_body = "<p>${VERSION}: $${NOT_A_NAME}, costs $5, ${ not one }</p>"
)");
    Result b = Velkor({"build", "app.toml", "--stub", "setup.exe", "-o", "out.exe", "-D", "VERSION=0.9", "-DCOMPANY=A&B",
                       "-D", "CABS=cabs", "-D", "VERSION=1.4.2"}, dir);
    ASSERT_EQ(b.code, 0) << b.err;
    EXPECT_EQ(b.err, "");
    Result l = Velkor({"list", "--json", "out.exe"}, dir);
    nlohmann::json j = nlohmann::json::parse(l.out);
    EXPECT_EQ(j["software_name"], "Tool 1.4.2");   // the last -D of a name wins
    EXPECT_EQ(j["company_name"], "A&B");
    EXPECT_EQ(j["texts"][6]["text"], "<p>1.4.2: ${NOT_A_NAME}, costs $5, ${ not one }</p>");
}

TEST_F(ToolTest, LintReportsEveryFindingAtItsPlaceAndHonoursDisable)
{
    MakeCab(dir / "main.cab", Prose(100));
    const std::string manifest = R"([package]
name = "Tool"
company = "Acme"
destination = 'C:\Tool'
pages = ["welcome", "agreement", "ready"]

[[component]]
name = "Main"
cab = "main.cab"

[texts]
ready_body = "<p><b>Ready</p>"
  welcome_body = "%Typo%"

[texts.de]
ready_body = "<p>Fertig<i></p>"
)";
    WriteText(dir / "app.toml", manifest);
    Result r = Velkor({"lint", "app.toml"}, dir);
    EXPECT_EQ(r.code, 9);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "app.toml:13:3: warning: texts.welcome_body uses %Typo%, which is neither %SoftwareName%, %CompanyName% "
              "nor a variable, so it shows as written [undefined-placeholder]\n"
              "app.toml:4:1: warning: package.destination 'C:\\Tool' is not a device folder: it must start with '\\' "
              "and every part must be a valid file name [destination-invalid]\n"
              "app.toml:5:1: warning: the agreement page is selected but texts.agreement_body is not given "
              "[agreement-missing]\n"
              "app.toml:12:1: warning: texts.ready_body is not well-formed HTML: <b> opened at character 4 is not "
              "closed before </p> at character 12 [html]\n"
              "app.toml:16:1: warning: texts.de.ready_body is not well-formed HTML: <i> opened at character 10 is not "
              "closed before </p> at character 13 [html]\n"
              "app.toml: 5 findings\n")
        << r.out;

    Result j = Velkor({"lint", "--json", "app.toml"}, dir);
    nlohmann::json v = nlohmann::json::parse(j.out);
    ASSERT_EQ(v["findings"].size(), 5u);
    EXPECT_EQ(v["findings"][4]["item"], "texts.de.ready_body");
    EXPECT_EQ(v["findings"][4]["file"], "app.toml");
    EXPECT_EQ(v["findings"][4]["line"], 16);
    EXPECT_EQ(v["findings"][4]["column"], 1);
    EXPECT_EQ(v["findings"][1]["line"], 4);

    // Switched off, in lint and in build's warnings alike.
    WriteText(dir / "app.toml", manifest + "\n[lint]\ndisable = [\"html\", \"destination-invalid\"]\n");
    r = Velkor({"lint", "app.toml"}, dir);
    EXPECT_EQ(r.code, 9);
    EXPECT_EQ(r.out.find("[html]"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("[destination-invalid]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("app.toml: 2 findings\n"), std::string::npos) << r.out;
    WriteBytes(dir / "setup.exe", Stub());
    Result b = Velkor({"build", "app.toml", "--stub", "setup.exe", "-o", "out.exe"}, dir);
    EXPECT_EQ(b.code, 0) << b.err;
    EXPECT_EQ(std::count(b.err.begin(), b.err.end(), '\n'), 2) << b.err;
    EXPECT_EQ(b.err.find("[html]"), std::string::npos) << b.err;
    // A package has no [lint] table and no lines: every check, no places.
    r = Velkor({"lint", "out.exe"}, dir);
    EXPECT_NE(r.out.find("out.exe: warning: texts.ready_body is not well-formed HTML"), std::string::npos) << r.out;
    v = nlohmann::json::parse(Velkor({"lint", "--json", "out.exe"}, dir).out);
    ASSERT_GT(v["findings"].size(), 0u);
    EXPECT_EQ(v["findings"][0]["file"], "out.exe");
    EXPECT_TRUE(v["findings"][0]["line"].is_null());
    EXPECT_TRUE(v["findings"][0]["column"].is_null());
}

}  // namespace
