// screens_test.cpp -- pictures of the choice pages for the documentation
// (docs/pages).  Not registered with ctest: run it by hand through the bench
// with VELKOR_PAGES_SHOTS naming a Windows folder for the PNG files.
#include "pagedriver.h"

#include "format.h"

#include <gtest/gtest.h>

using namespace robot;
using namespace pagedriver;

TEST(Screens, ChoicePages)
{
    std::wstring folder = Env(L"VELKOR_PAGES_SHOTS");
    if (folder.empty())
        GTEST_SKIP() << "VELKOR_PAGES_SHOTS is not set";
    if (folder.back() != L'\\')
        folder += L'\\';
    MakeFolders({L"My Documents\\Letters", L"Storage Card\\Programs", L"Temp"});

    velkor::PackageRecipe recipe = Recipe(2 | 4 | 8 | 16 | 32, 0, {u"Tool", u"Help files", u"Samples", u"Extra fonts"},
                                    {true, true, false, false});
    recipe.texts[TextAgreementBody] =
        u"END-USER LICENSE AGREEMENT\r\n\r\nThis agreement is between you and Acme for the Tool software. "
        u"By installing it you accept these terms.\r\n\r\n1. You may install the software on one device.\r\n"
        u"2. You may not rent, lease or lend it.\r\n3. The software comes as it is, without warranty of any kind.\r\n"
        u"4. Acme is not liable for damages of any kind arising from its use.\r\n";
    Wizard w;
    w.Launch(WriteSizedPackageExe(recipe, {412672, 1363148, 73728, 2883584}, L"screens.exe"));
    w.WaitPage(IDD_AGREEMENT);
    w.Click(IDC_ACCEPT);
    WaitUntil(w, "OK enabled", [&] { return w.Enabled(IDOK); });
    w.Screenshot(folder + L"agreement.png");

    w.Click(IDOK);
    w.WaitPage(IDD_COMPONENTS);
    w.Screenshot(folder + L"components.png");

    w.Click(IDOK);
    w.WaitPage(IDD_LOCATION);
    w.Screenshot(folder + L"location.png");

    w.Click(IDOK);
    w.WaitPage(IDD_DESTINATION);
    w.SelectTreeItem(IDC_FOLDER_TREE, L"\\My Documents\\Letters");
    WaitUntil(w, "the pick", [&] { return w.Text(IDC_DESTINATION) == L"\\My Documents\\Letters"; });
    w.Screenshot(folder + L"destination.png");
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}
