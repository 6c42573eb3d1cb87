// gtest_main.cpp -- entry of the Windows test programs (the cross build
// links with -municode, so GoogleTest's own main does not fit).
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

int wmain(int argc, wchar_t **argv)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
