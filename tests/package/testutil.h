// testutil.h -- small helpers shared by the package tests.
#pragma once

#include "package.h"
#include "format.h"
#include "testsupport.h"

#include <string>

inline std::u16string U(const VCHAR *s) { return s ? std::u16string(s) : std::u16string(u"<null>"); }

// Loads a package image held in memory, as the setup program loads its file.
inline LoadResult LoadFromMemory(const velkor::Bytes &file)
{
    UseMemoryPackage(file.data(), file.size());
    ModulePath[0] = 0;
    LoadResult r = LoadPackage();
    UseFilePackages();
    return r;
}

// A complete package: two components, one variable, all thirty texts.
inline velkor::PackageRecipe SampleRecipe()
{
    velkor::PackageRecipe recipe = testsupport::ToolRecipe(PageWelcome | PageComponents | PageReady);
    recipe.variables = {{u"%Version%", u"2.1"}};
    velkor::Bytes a(70000), b(10);
    for (size_t i = 0; i < a.size(); ++i)
        a[i] = uint8_t(i * 7 + (i >> 9));
    recipe.components = {{u"Main program", a, true, true}, {u"Help", b, false, false}};
    recipe.texts[TextConfirmCancel] = u"Cancel %SoftwareName% %Version%?";
    return recipe;
}

inline velkor::Bytes SampleImage() { return velkor::Bytes(512, 0x4D); }
