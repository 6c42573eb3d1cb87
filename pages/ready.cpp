/* ready.cpp -- the last page before the installation; its OK reads Install. */
#include "infopage.h"

INT_PTR CALLBACK ReadyPageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return InformationPageProcedure(page, message, wParam, lParam, PageReady, TextReadyTitle, TextReadyBody);
}
