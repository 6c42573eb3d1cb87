// robot_main.cpp -- robot.exe: runs a script of wizard steps, one per line, so
// that demos and the preview tool can drive the setup program without C++.
//
//   robot.exe SCRIPT        (or "-" for standard input)
//
// Steps (ids are decimal control or page ids; "strings" may hold \" and \\;
// %NAME% is replaced by the environment variable):
//   timeout SECONDS                  limit of every later wait (default 15)
//   sample-package FILE FLAGS UDL    write <device root>\FILE: setup.exe with
//                                    a sample package (page bits, use-default)
//   launch PATH [ARGUMENTS...]       start the program; the arguments, joined
//                                    by blanks, are its command line (a
//                                    program still running is ended first)
//   wait-frame | wait-page ID | expect-page ID (0: none on screen)
//   expect-text ID "TEXT" | expect-text-contains ID "TEXT"
//   expect-enabled ID 0|1 | expect-checked ID 0|1
//                                    (each expect-... passes once it holds
//                                    within the time limit)
//   click ID | click-at ID X Y | type ID "TEXT"
//   tick TREE_ID "ITEM" 0|1 | select TREE_ID "A\B\C"
//   expect-msgbox "TEXT" "CAPTION" error|information|question|warning|none
//   answer IDOK|IDYES|IDNO|IDCANCEL  press a button of the message box
//   screenshot FILE.png | sleep MS | describe
//   measure FILE NAME EXE TEMPLATE ID [HEXTEXT]
//                                    append to FILE how wide text NAME is in
//                                    control ID (0: the page header, bold) of
//                                    template TEMPLATE of EXE, and the room
//                                    there: the live control's text and width
//                                    when that page is on screen, else
//                                    HEXTEXT in a hidden copy of the template
//   font-table EXE FILE              write the character widths of EXE's
//                                    dialog font and its controls' widths
//   wait-exit [CODE]                 wait for the end (and check the code)
//   detach                           leave the program running at the end
// Any failed step ends the script with exit code 1 and says why.
#include "measure.h"
#include "packages.h"
#include "robot.h"

#include <cstdio>
#include <memory>
#include <iostream>
#include <sstream>

using namespace robot;

namespace {

std::wstring Expand(const std::wstring &s)
{
    DWORD n = ExpandEnvironmentStringsW(s.c_str(), nullptr, 0);
    std::wstring out(n, L'\0');
    n = ExpandEnvironmentStringsW(s.c_str(), out.data(), n);
    out.resize(n ? n - 1 : 0);
    return out;
}

// Words of a line; quoted words keep their blanks.
std::vector<std::wstring> Split(const std::wstring &line)
{
    std::vector<std::wstring> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && iswspace(line[i]))
            ++i;
        if (i >= line.size() || line[i] == L'#')
            break;
        std::wstring word;
        if (line[i] == L'"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                wchar_t c = line[i++];
                if (c == L'\\' && i < line.size() && (line[i] == L'"' || line[i] == L'\\')) {
                    word += line[i++];
                } else if (c == L'"') {
                    closed = true;
                    break;
                } else {
                    word += c;
                }
            }
            if (!closed)
                throw Failure("a quoted word is not closed");
        } else {
            while (i < line.size() && !iswspace(line[i]))
                word += line[i++];
        }
        words.push_back(Expand(word));
    }
    return words;
}

int Number(const std::wstring &s)
{
    size_t used = 0;
    int v = 0;
    try {
        v = std::stoi(s, &used, 0);
    } catch (...) {
        used = 0;
    }
    if (used != s.size() || s.empty())
        throw Failure("\"" + Narrow(s) + "\" is not a number");
    return v;
}

int ButtonId(const std::wstring &s)
{
    if (s == L"IDOK") return IDOK;
    if (s == L"IDCANCEL") return IDCANCEL;
    if (s == L"IDYES") return IDYES;
    if (s == L"IDNO") return IDNO;
    return Number(s);
}

struct Runner {
    std::unique_ptr<Wizard> current = std::make_unique<Wizard>();
    DWORD timeout = 15000;
    std::optional<MessageBoxInfo> box;
    bool detach = false;

    Wizard &W() { return *current; }

    void Need(const std::vector<std::wstring> &w, size_t from, size_t to)
    {
        if (w.size() - 1 < from || w.size() - 1 > to)
            throw Failure("wrong number of arguments");
    }

    // Clicks are posted, so what they change shows a moment later: an
    // expectation holds once it holds within the time limit.
    template <class Check>
    void Eventually(Check check)
    {
        DWORD start = GetTickCount();
        for (;;) {
            std::string problem = check();
            if (problem.empty())
                return;
            if (GetTickCount() - start > Limit(timeout))
                throw Failure(problem);
            Sleep(20);
        }
    }

    static void Same(const std::string &what, const std::wstring &want, const std::wstring &got)
    {
        if (want != got)
            throw Failure(what + ": expected \"" + Narrow(want) + "\", found \"" + Narrow(got) + "\"");
    }

    void Measure(const std::vector<std::wstring> &w)
    {
        int templateId = Number(w[4]), id = Number(w[5]);
        TemplateCopy copy(w[3], templateId);
        bool live = W().Running() && W().PageId() == templateId;
        if (!live && w.size() < 7)
            throw Failure("page " + PageName(templateId) + " is not on screen to read control " + Narrow(w[5]) + " from");
        HWND shown = live ? (id ? W().Control(id) : W().PageWindow()) : nullptr;
        std::wstring text = w.size() == 7 ? FromHex(w[6]) : W().WindowText(shown);
        int width = 0;
        if (live) {
            RECT r = {};
            GetClientRect(shown, &r);
            width = r.right - r.left;
        } else {
            width = copy.ClientWidth(id);
        }
        HWND inCopy = id ? GetDlgItem(copy.Window(), id) : nullptr;
        if (id && !inCopy)
            throw Failure("template " + Narrow(w[4]) + " has no control " + Narrow(w[5]));
        HFONT font = id ? reinterpret_cast<HFONT>(SendMessageW(inCopy, WM_GETFONT, 0, 0)) : copy.Font(true);
        const char *kind = id ? ControlKind(inCopy) : "header";
        HFONT regular = copy.Font(false);
        AppendMeasurement(w[1], Narrow(w[2]), templateId, id, kind, TextWidth(font ? font : regular, text), width,
                          TextWidth(regular, L"0"), text);
    }

    void Step(const std::vector<std::wstring> &w)
    {
        const std::wstring &op = w[0];
        Wizard &wizard = W();
        if (op == L"timeout") {
            Need(w, 1, 1);
            timeout = DWORD(Number(w[1])) * 1000;
            wizard.SetTimeout(timeout);
        } else if (op == L"sample-package") {
            Need(w, 3, 3);
            WritePackageExe(SamplePackage(uint8_t(Number(w[2])), uint8_t(Number(w[3])), true), w[1]);
        } else if (op == L"launch") {
            if (w.size() < 2)
                throw Failure("launch needs a program");
            std::wstring arguments;
            for (size_t i = 2; i < w.size(); ++i)
                arguments += (i > 2 ? L" " : L"") + w[i];
            // A new program replaces the one before (ended if still running).
            current = std::make_unique<Wizard>(timeout);
            box.reset();
            current->Launch(w[1], arguments);
        } else if (op == L"wait-frame") {
            Need(w, 0, 0);
            wizard.WaitFrame();
        } else if (op == L"wait-page") {
            Need(w, 1, 1);
            wizard.WaitPage(Number(w[1]));
        } else if (op == L"expect-page") {
            Need(w, 1, 1);
            Eventually([&]() -> std::string {
                int id = wizard.PageId();
                return id == Number(w[1]) ? "" : "page on screen: " + PageName(id);
            });
        } else if (op == L"expect-text") {
            Need(w, 2, 2);
            Eventually([&]() -> std::string {
                std::wstring t = wizard.Text(Number(w[1]));
                return t == w[2] ? "" : "text of " + Narrow(w[1]) + " is \"" + Narrow(t) + "\"";
            });
        } else if (op == L"expect-text-contains") {
            Need(w, 2, 2);
            Eventually([&]() -> std::string {
                std::wstring t = wizard.Text(Number(w[1]));
                return t.find(w[2]) != std::wstring::npos ? "" : "text of " + Narrow(w[1]) + " is \"" + Narrow(t) + "\"";
            });
        } else if (op == L"expect-enabled") {
            Need(w, 2, 2);
            Eventually([&]() -> std::string {
                bool want = Number(w[2]) != 0;
                return wizard.Enabled(Number(w[1])) == want ? ""
                       : "control " + Narrow(w[1]) + " is " + (want ? "disabled" : "enabled");
            });
        } else if (op == L"expect-checked") {
            Need(w, 2, 2);
            Eventually([&]() -> std::string {
                bool want = Number(w[2]) != 0;
                return wizard.Checked(Number(w[1])) == want ? ""
                       : "control " + Narrow(w[1]) + " is " + (want ? "not checked" : "checked");
            });
        } else if (op == L"click") {
            Need(w, 1, 1);
            wizard.Click(Number(w[1]));
        } else if (op == L"click-at") {
            Need(w, 3, 3);
            wizard.ClickAt(Number(w[1]), Number(w[2]), Number(w[3]));
        } else if (op == L"type") {
            Need(w, 2, 2);
            wizard.Type(Number(w[1]), w[2]);
        } else if (op == L"tick") {
            Need(w, 3, 3);
            wizard.SetTreeCheck(Number(w[1]), w[2], Number(w[3]) != 0);
        } else if (op == L"select") {
            Need(w, 2, 2);
            wizard.SelectTreeItem(Number(w[1]), w[2]);
        } else if (op == L"expect-msgbox") {
            Need(w, 3, 3);
            box = wizard.WaitMessageBox();
            Same("message box text", w[1], box->text);
            Same("message box caption", w[2], box->caption);
            auto icon = IconFromName(Narrow(w[3]));
            if (!icon)
                throw Failure("unknown icon \"" + Narrow(w[3]) + "\"");
            if (box->icon != *icon)
                throw Failure(std::string("message box icon: expected ") + IconName(*icon) + ", found " +
                              IconName(box->icon));
        } else if (op == L"answer") {
            Need(w, 1, 1);
            if (!box)
                box = wizard.WaitMessageBox();
            wizard.Answer(*box, ButtonId(w[1]));
            box.reset();
        } else if (op == L"screenshot") {
            Need(w, 1, 1);
            wizard.Screenshot(w[1]);
        } else if (op == L"sleep") {
            Need(w, 1, 1);
            Sleep(DWORD(Number(w[1])));
        } else if (op == L"describe") {
            std::cout << wizard.Describe() << std::endl;
        } else if (op == L"wait-exit") {
            Need(w, 0, 1);
            DWORD code = wizard.WaitExit();
            if (w.size() == 2 && code != DWORD(Number(w[1])))
                throw Failure("exit code " + std::to_string(code));
        } else if (op == L"measure") {
            Need(w, 5, 6);
            Measure(w);
        } else if (op == L"font-table") {
            Need(w, 2, 2);
            WriteFontTable(w[1], w[2]);
        } else if (op == L"detach") {
            detach = true;
        } else {
            throw Failure("unknown step");
        }
    }
};

}  // namespace

static bool ReadAll(FILE *f, std::string *out)
{
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        out->append(buffer, n);
    return !ferror(f);
}

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2) {
        std::cerr << "usage: robot.exe SCRIPT (or - for standard input)\n";
        return 2;
    }
    std::wstring name = argv[1];
    std::string script;
    FILE *f = name == L"-" ? stdin : _wfopen(name.c_str(), L"rb");
    if (!f || !ReadAll(f, &script)) {
        std::cerr << "robot: cannot read " << Narrow(name) << "\n";
        return 2;
    }
    if (f != stdin)
        fclose(f);

    Runner runner;
    std::istringstream in(script);
    std::string bytes;
    int number = 0;
    while (std::getline(in, bytes)) {
        ++number;
        if (!bytes.empty() && bytes.back() == '\r')
            bytes.pop_back();
        std::wstring text = Widen(bytes);
        try {
            std::vector<std::wstring> words = Split(text);
            if (words.empty())
                continue;
            runner.Step(words);
        } catch (const std::exception &e) {
            std::cerr << "robot: line " << number << ": " << Narrow(text) << "\n  " << e.what() << std::endl;
            return 1;
        }
    }
    if (runner.detach)
        runner.W().Detach();
    return 0;
}
