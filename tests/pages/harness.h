// harness.h -- drives the choice pages inside the test process: a package
// loaded from memory, a stand-in frame that records the navigation requests,
// a stand-in volume for the installation's space figures, message pumping, and a
// watcher that reads and answers the pages' message boxes.
#pragma once

#include "pagekit.h"
#include "pages.h"
#include "foldertree.h"
#include "install.h"
#include "testsupport.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pages {

// What the pages asked the frame for, in the order the frame got it
// (CmdNext, CmdBack, ...).  A posted request still queued is delivered
// first, as the program's message loop would.
const std::vector<int> &Requests();
void ClearRequests();

// The space figures, as the installation works them out: the free space
// of a stand-in volume (UseStandInVolume(true) until UseStandInVolume(false)
// puts the real calls back), and the required space made `bytes` by
// selecting the loaded package's first component alone, of that size.
extern DWORD StandInFree;
void UseStandInVolume(bool use);
void SetRequiredSpace(DWORD bytes);

// Loads a package built from `recipe`, with component i reporting sizes[i]
// bytes (the CAB bytes of the recipe are not used).  Fails the test on error.
void LoadTestPackage(const velkor::PackageRecipe &recipe, const std::vector<uint32_t> &sizes = {});
// A package with every text, the page flags given and the components named.
velkor::PackageRecipe Sample(uint8_t pageFlags, std::vector<std::u16string> names = {},
                           std::vector<bool> selected = {});

// The stand-in frame (created once) and a page made from its template, with
// the instance as its creation parameter as the shell makes it.
HWND Frame();
HWND MakePage(int templateId, DLGPROC procedure);
// Destroys every page made so far.
void DestroyPages();

using testsupport::Narrow;
using testsupport::PumpFor;

struct BoxSeen {
    std::wstring text;
    std::wstring caption;
    UINT icon = 0;          // MB_ICONHAND, MB_ICONINFORMATION ... or 0
    HWND owner = nullptr;
};
// Runs `action` on this thread and answers every message box it shows with
// OK; returns the first box seen, or nothing when none showed.
std::optional<BoxSeen> WithMessageBoxes(const std::function<void()> &action);

// Presses a button of a page as a tap would (BM_CLICK).
void Tap(HWND page, int id);

// The device root of the bench run ("X:\") and folder helpers in it.
using testsupport::DeviceRoot;
void MakeFolders(const std::vector<std::wstring> &relativePaths);   // each created with its parents
void MakeFile(const std::wstring &relativePath);
void RemoveTree(const std::wstring &relativePath);                    // folder and everything in it

// Tree helpers.
std::wstring ItemText(HWND tree, HTREEITEM item);
std::vector<std::wstring> ChildTexts(HWND tree, HTREEITEM parent);
HTREEITEM FindItem(HWND tree, const std::wstring &path);   // "\" , "\A\B"; nullptr when absent
LPARAM ItemParam(HWND tree, HTREEITEM item);
bool Expanded(HWND tree, HTREEITEM item);
std::wstring Str(const WCHAR *s);

}  // namespace pages
