/* infopage.h -- the welcome and ready pages differ only in their flag and texts. */
#ifndef VELKOR_INFOPAGE_H
#define VELKOR_INFOPAGE_H

#include "pages.h"

INT_PTR InformationPageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam, int flag,
                                 int titleIndex, int bodyIndex);

#endif
