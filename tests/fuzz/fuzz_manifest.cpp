// libFuzzer target: the authoring tool's manifest reader.  A manifest is
// either refused with the tool's own Failure (anything else escaping is a
// finding) or it builds a package that the setup program loads with the
// same pages and components.
#include "errors.h"
#include "manifest.h"
#include "package.h"
#include "pkgwrite.h"

#include <stdlib.h>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    velkor::Manifest m;
    try {
        // Relative text files are looked for in a folder that does not exist.
        m = velkor::ParseManifest(std::string_view(reinterpret_cast<const char *>(data), size),
                                  "/nonexistent-velkor-fuzz/manifest.toml");
    } catch (const velkor::Failure &) {
        return 0;
    }
    for (velkor::ComponentRecipe &c : m.recipe.components)
        c.cab = velkor::Bytes(16, 'C');
    velkor::Bytes image(16, 'M');
    velkor::Bytes pkg = velkor::BuildPackage(image, m.recipe, 1);
    UseMemoryPackage(pkg.data(), pkg.size());
    ModulePath[0] = 0;
    LoadResult r = LoadPackage();
    bool same = r == LoadSucceeded && Package.PageFlags == m.recipe.pageFlags &&
                Package.ComponentCount == m.recipe.components.size();
    ReleasePackage();
    UseFilePackages();
    if (!same)
        abort();
    return 0;
}
