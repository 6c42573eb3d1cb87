/* planted.cpp -- device code as it must not be written: desktop-only calls
 * that the import check has to refuse, naming each one and this file. */
#include <windows.h>

void PlantedDesktopCalls(HWND window)
{
    WCHAR full[MAX_PATH];
    GetFullPathNameW(L"\\x", MAX_PATH, full, NULL);
    if (GetMenu(window))
        ShowScrollBar(window, SB_VERT, FALSE);
    MessageBoxA(window, "text", "caption", MB_OK);
}
