/*
 * rules.h -- the portable half of the CAB installer stand-in: which member
 * names may be written, how the command line is read, and how a log line is
 * formatted and read back.  No windows.h here, so every rule is unit-tested natively; the
 * Win32 half (wceload_win.cpp) only does files, FDI and the registry.
 */
#ifndef WCELOAD_RULES_H
#define WCELOAD_RULES_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace wceload {

using Str = std::u16string;   // UTF-16, as the Win32 half uses it

// Exit codes of wceload.exe (documented in README.md and wceload_win.cpp).
enum ExitCode {
    ExitSuccess = 0,
    ExitBadCommandLine = 1,   // unknown option, option without its value, no CAB path
    ExitMissingCab = 2,       // the CAB file cannot be opened
    ExitCabinetFailure = 3,   // FDI refused the file: not a cabinet, damaged, truncated, spanned
    ExitRefusedName = 4,      // a member name breaks the name rules (or repeats another)
    ExitWriteFailure = 5,     // a folder, file, move or registry value could not be written
    ExitEmptyCab = 6,         // the cabinet holds no file
    ExitBadDestination = 7,   // the destination folder is not a usable device path
    ExitBadSetupInfo = 8,     // the setup-information file (.000) is malformed or unusable
    ExitOutOfMemory = 9,
};

// Longest full path the installer writes (MAX_PATH less its terminator) and
// longest single name in a path.
const size_t MaxPathUnits = 259;
const size_t MaxNameUnits = 255;

enum NameVerdict {
    NameOk = 0,
    NameEmpty,              // "" or nothing but separators
    NameAbsolute,           // starts with \ or / (also \\?\, \\.\ and UNC)
    NameColon,              // drive letter or alternate data stream
    NameClimbs,             // a ".." part
    NameEmptyPart,          // "a\\b", trailing separator
    NameDotPart,            // a "." part
    NameReservedDevice,     // CON, NUL, AUX, PRN, COM1-9, LPT1-9, CONIN$, CONOUT$
    NameTrailingDotOrSpace, // a part ending in "." or " "
    NameBadCharacter,       // control characters, < > " | ? *, unpaired surrogates
    NameTooLong,            // a part over MaxNameUnits or the full path over MaxPathUnits
};

const char *NameVerdictText(NameVerdict verdict);

// Checks a relative name (either slash) that is to be placed below a folder
// whose full path, separator included, is baseLength units long.  On NameOk
// *normalised (when given) receives the name with backslashes only.
NameVerdict CheckRelativeName(const Str &name, size_t baseLength, Str *normalised = nullptr);

// True when one path part (no separators) names a reserved device, with or
// without an extension.
bool IsReservedDeviceName(const Str &part);

// Case-insensitive (ASCII letters only, as the file system folds them for
// the names that matter here) comparison and prefix test on whole parts:
// "\A\B" is within "\a", "\ab" is not.
bool SameName(const Str &a, const Str &b);
bool IsWithinFolder(const Str &path, const Str &folder);

// A device path: starts with one backslash, parts pass the name rules, no
// trailing backslash except the root "\" itself.  Forward slashes are turned
// into backslashes.  rootLength is what the file system puts before the
// device path ("X:" under Wine = 2, nothing on the device).  Returns false for
// anything else (drive letters, UNC, "..", too long).
bool NormaliseDevicePath(const Str &path, size_t rootLength, Str *normalised);

// "\Program Files\<base name of the CAB without its extension>".
Str DefaultDestination(const Str &cabPath);

// ---- command line ----

// What the program was started with.  The device passes only the arguments;
// a desktop shell passes the program's own name first.  When the first word
// (quoted or not) ends in programBaseName or "wceload.exe"/"wceload" (any
// case), it is the program name and is dropped with the blanks after it.
Str StripProgramName(const Str &commandLine, const Str &programBaseName);

struct Options {
    bool AskDest = false;
    bool NoAskDest = false;
    bool NoUi = false;          // /noui and /silent: answer questions with the default
    bool Silent = false;
    bool NoUninstall = false;   // do not record the application
    int Delete = -1;            // -1 not given, 0 keep, 1 delete the CAB afterwards
};

enum ArgumentsResult {
    ArgumentsNone = 0,          // no command line at all: use "\kCABFILE.cab" and the registry
    ArgumentsPath,              // *cabPath holds the CAB path
    ArgumentsUnknownOption,
    ArgumentsMissingValue,      // "/delete" without a number
    ArgumentsBadValue,          // "/delete 7"
    ArgumentsNoPath,            // options but no path
};

// Reads the arguments (program name already stripped).  Options are words
// starting with "/" at the front; the rest, unsplit, is the CAB path, with
// blanks trimmed and one pair of surrounding quotes removed.
ArgumentsResult ParseArguments(const Str &arguments, Options *options, Str *cabPath);

// ---- log line ----

struct LogRecord {
    Str CommandLine;                 // the arguments as received (program name stripped)
    Str CabPath;
    Str Destination;                 // the folder the CAB was installed into
    std::string AskDestValue;        // "missing", or the number found
    bool WouldAsk = false;
    std::vector<Str> Files;          // written files, relative to Destination or device paths
    std::vector<Str> Skipped;        // files the .000 flags told us to leave alone
    unsigned RegistryValues = 0;
    std::string Error;               // empty on success
    int ExitCode = 0;
};

// One line (no line end) in UTF-8; see the format at the top of wceload_win.cpp.
std::string FormatLogLine(const LogRecord &record);
// Escapes %, tab, CR, LF and | as %XX in a UTF-8 field value.
std::string EscapeLogValue(const std::string &utf8);
// Undoes EscapeLogValue.  A "%" without two hex digits after it stays as it
// is: a cut or hand-edited log is still read.
std::string UnescapeLogValue(const std::string &escaped);

// One field of a log line read back, its %XX escapes undone.  A list (files,
// skipped) is split at its bars before that, so an item keeps a "|" of its
// own in Items; Value is the whole list undone, the items joined by "|".
struct LogField {
    std::string Key;
    std::string Value;
    std::vector<std::string> Items;  // lists only
};

// Reads a line FormatLogLine wrote, its line end removed: the fields after
// "wceload" in the order found (a field without "=" has an empty value).
// False, with *fields empty, for a line that does not start "wceload\t".
bool ParseLogLine(const std::string &line, std::vector<LogField> *fields);
std::string ToUtf8(const Str &text);
// 8-bit text of a CAB (.000 strings) to UTF-16: Windows-1252.
Str FromCodePage1252(const std::string &bytes);
Str FromAscii(const char *text);

} // namespace wceload

#endif
