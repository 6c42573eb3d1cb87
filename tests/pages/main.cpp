// main.cpp -- entry of the Windows test programs (the cross build links with
// -municode, so GoogleTest's own main does not fit).
#include <gtest/gtest.h>

int wmain(int argc, wchar_t **argv)
{
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
