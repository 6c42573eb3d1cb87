// preview.cpp -- drives the Wine bench and the robot for `velkor preview`.
// The bench is started in a state folder of our own and stopped by a guard
// object, so every way out (failure, time limit, interrupt) stops it; all
// the pictures are made in that folder and copied out only when every one
// of them exists.
#include "preview.h"

#include "bench.h"
#include "process.h"
#include "robot.h"
#include "errors.h"
#include "files.h"
#include "lint.h"
#include "manifest.h"
#include "pkgwrite.h"
#include "textfit.h"
#include "twin.h"

#include "format.h"
#include "pageflow.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace velkor {

namespace fs = std::filesystem;

namespace {

using namespace setupui;

// Seconds the robot waits for any one thing; Wine's first start is slow.
const int RobotStepSeconds = 60;

}  // namespace

std::vector<uint8_t> PreviewPages(const PackageInfo &p) { return WizardPages(p, 1); }

std::vector<uint8_t> WizardPages(const PackageInfo &p, int locationChoice)
{
    std::vector<uint8_t> pages;
    if (!p.pageFlags || !p.firstPage)
        return pages;
    uint8_t useDefault = p.useDefaultLocation != 0;
    uint8_t current = p.firstPage;
    for (;;) {
        pages.push_back(current);
        // The location page's choice (if one is made) holds from the next step on.
        if (current == PageLocation && locationChoice >= 0)
            useDefault = locationChoice == 0;
        PageStep step = NextPage(p.pageFlags, useDefault, current);
        if (step.Installs)
            return pages;     // Next here starts the installation
        current = step.Page;
    }
}

std::string PreviewFileName(size_t n, uint8_t page)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02zu", n);
    return std::string(buf) + "-" + PageNameOf(page, "page") + ".png";
}

std::string PreviewScript(const PackageInfo &p, const std::vector<uint8_t> &pages, const std::string &setupExe,
                          const std::string &shotsDir, const std::string &measureFile,
                          const std::vector<std::u16string> &texts)
{
    std::string s = "# velkor preview: every page of the package, with sample choices\n";
    s += "timeout " + std::to_string(RobotStepSeconds) + "\n";
    s += "launch " + RobotWord(setupExe) + (p.requireInstallArgument ? " install" : "") + "\n";
    s += "wait-frame\n";
    bool anySelected = false;
    std::u16string firstByName;
    for (const auto &c : p.components) {
        anySelected = anySelected || c.selected;
        if (firstByName.empty() || c.name < firstByName)
            firstByName = c.name;
    }
    for (size_t i = 0; i < pages.size(); ++i) {
        uint8_t page = pages[i];
        s += RobotEnterPage(page);
        switch (page) {
        case PageComponents:
            // Keep the author's choice; with nothing selected, Next would
            // only complain, so the first component is ticked.
            if (!anySelected && !p.components.empty())
                s += "tick " + std::to_string(ComponentTree) + " " + RobotWord(Utf16ToUtf8(firstByName)) + " 1\n";
            break;
        case PageLocation:
            s += "click " + std::to_string(ChooseFolderChoice) + "\n";
            s += "expect-checked " + std::to_string(ChooseFolderChoice) + " 1\n";
            break;
        case PageDestination:
            // A blank destination would keep the page with a message.
            if (p.destination.find_first_not_of(u" \t") == std::u16string::npos)
                s += "type " + std::to_string(DestinationField) + " " + RobotWord("\\Program Files") + "\n";
            break;
        default:
            break;
        }
        // Each step above waits for its effect, and the robot has the page
        // paint itself for the picture.
        s += "screenshot " + RobotWord(shotsDir + "\\" + PreviewFileName(i + 1, page)) + "\n";
        if (!measureFile.empty())
            s += MeasureSteps(page, p.pageFlags, texts, RobotWord(setupExe), RobotWord(measureFile));
        if (i + 1 < pages.size()) {
            s += "expect-enabled " + std::to_string(ButtonOk) + " 1\n";
            s += "click " + std::to_string(ButtonOk) + "\n";
        }
    }
    if (!measureFile.empty())
        s += MeasureSteps(0, p.pageFlags, texts, RobotWord(setupExe), RobotWord(measureFile));
    // The robot ends the setup program when the script ends.
    return s;
}

int RunPreview(const PreviewOptions &o)
{
    // Everything that can be checked without Wine is checked first.
    std::vector<std::u16string> texts;
    MappedFile f(o.package, "package");
    PackageInfo p = ReadPackage(f.data(), f.size(), ReadDepth::Header);
    CheckWithProgramLoader(f.data(), f.size(), p, &texts);
    Manifest manifest;
    if (!o.manifest.empty()) {
        manifest = LoadManifest(o.manifest);
        RecipeForLanguage(manifest, o.language);   // an unknown language fails before Wine starts
    }
    std::string bench = BenchScript(o.bench);
    std::string robot = o.winBin + "/robot.exe";
    NeedWindowsPrograms(o.winBin, {"robot.exe"});
    std::string montage = FindProgram("montage");
    if (montage.empty())
        throw Failure(ExitPreviewFailed, "ImageMagick's montage is not installed; it makes the contact sheet");

    std::vector<uint8_t> pages = PreviewPages(p);
    if (pages.empty()) {
        std::printf("%s: the package has no pages (Setup installs at once); nothing to preview\n", o.package.c_str());
        return ExitOk;
    }
    std::unique_ptr<DesktopTwin> twin =
        TwinForBench("preview", o.package, f.data(), f.size(), p, o.winBin + "/setup.exe");
    MakeDirectory(o.outDir);

    bool temporary = false;
    std::string state = BenchState(o.state, "preview", &temporary);
    Bench session(bench, state, temporary);
    RobotRun run = PrepareRobotRun(state, "preview", twin ? twin->path() : o.package);
    const std::string &work = run.work;
    MakeDirectory(work + "/shots");
    WriteRobotScript(run, PreviewScript(p, pages, WinePath(run.setupCopy), WinePath(work + "/shots"),
                                        WinePath(work + "/measure.txt"), texts));

    session.Start();
    ThrowIfStopped();
    int rc = session.Run(fs::absolute(o.winBin).string(), {fs::absolute(robot).string(), WinePath(run.scriptPath)},
                         o.timeoutSeconds);
    if (rc != 0)
        throw Failure(ExitPreviewFailed, "the robot stopped (exit code " + std::to_string(rc) +
                                             "): " + Tail(session.RunLog()));

    std::vector<std::string> shots;
    for (size_t i = 0; i < pages.size(); ++i) {
        std::string shot = work + "/shots/" + PreviewFileName(i + 1, pages[i]);
        if (!IsFile(shot))
            throw Failure(ExitPreviewFailed,
                          "the robot wrote no picture of the " + PageNameOf(pages[i], "page") + " page");
        shots.push_back(shot);
    }

    // What the robot measured is read before anything is written out.
    std::ifstream measureFile(work + "/measure.txt", std::ios::binary);
    std::string lines((std::istreambuf_iterator<char>(measureFile)), {});
    std::vector<Measurement> measured = ReadMeasurements(lines, TheDeviceFont());
    std::vector<Finding> findings = MeasuredFitFindings(measured);
    PlaceInManifest(manifest, findings, o.language);

    // The contact sheet: the pages side by side, three to a row, labelled
    // when a font for the labels is at hand.
    std::string sheet = work + "/contact-sheet.png";
    std::vector<std::string> args{montage};
    const char *font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    bool labels = IsFile(font);
    if (labels)
        args.insert(args.end(), {"-font", font, "-pointsize", "13"});
    for (size_t i = 0; i < shots.size(); ++i) {
        if (labels)
            args.insert(args.end(), {"-label", std::to_string(i + 1) + " " + PageNameOf(pages[i], "page")});
        args.push_back(shots[i]);
    }
    args.insert(args.end(), {"-tile", std::to_string(std::min<size_t>(shots.size(), 3)) + "x", "-geometry", "+10+10",
                             "-background", "#d8d8d8", sheet});
    rc = RunLogged(args, state + "/preview-logs/montage.log", state, 300);
    if (rc != 0 || !IsFile(sheet))
        throw Failure(ExitPreviewFailed, "montage could not make the contact sheet: " +
                                             Tail(state + "/preview-logs/montage.log"));

    std::vector<std::string> written;
    for (size_t i = 0; i < shots.size(); ++i) {
        written.push_back(o.outDir + "/" + PreviewFileName(i + 1, pages[i]));
        CopyFile(shots[i], written.back());
    }
    written.push_back(o.outDir + "/contact-sheet.png");
    CopyFile(sheet, written.back());

    std::string where = o.manifest.empty() ? o.package : o.manifest;
    if (o.json) {
        std::fputs(PreviewFitJson(o.package, written, findings, measured, where).c_str(), stdout);
    } else {
        for (const auto &w : written)
            std::printf("%s\n", w.c_str());
        for (Finding f : findings) {
            f.file = where;
            PrintDiagnostic(stdout, AsDiagnostic(f));
        }
    }
    for (const auto &m : measured)
        if (std::abs(m.needed - m.table) > 1)
            std::fprintf(stderr, "velkor: note: %s \"%s\" is %d pixels wide on screen but %d by the width table; "
                                 "scripts/measure-font.sh makes the table again\n",
                         TextNames()[size_t(m.place.textIndex)].c_str(), Utf16ToUtf8(m.text).c_str(), m.needed, m.table);
    return o.strict && !findings.empty() ? ExitFindings : ExitOk;
}

}  // namespace velkor
