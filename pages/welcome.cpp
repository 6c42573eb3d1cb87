/* welcome.cpp -- the first page: greets the user with the package's HTML. */
#include "infopage.h"

INT_PTR CALLBACK WelcomePageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return InformationPageProcedure(page, message, wParam, lParam, PageWelcome, TextWelcomeTitle,
                                    TextWelcomeBody);
}
