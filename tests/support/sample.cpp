// sample.cpp -- the sample package and the bytes around it.
#include "testsupport.h"

namespace testsupport {

velkor::PackageRecipe ToolRecipe(uint8_t pageFlags, uint8_t useDefaultLocation, const std::u16string &destination)
{
    velkor::PackageRecipe recipe;
    recipe.softwareName = u"Tool";
    recipe.companyName = u"Acme";
    recipe.destination = destination;
    recipe.useDefaultLocation = useDefaultLocation;
    recipe.pageFlags = pageFlags;
    recipe.texts = velkor::DefaultTexts();
    return recipe;
}

void AddComponents(velkor::PackageRecipe &recipe, const std::vector<std::u16string> &names,
                   const std::vector<bool> &selected, bool acceptsDestination)
{
    for (size_t i = 0; i < names.size(); ++i) {
        velkor::ComponentRecipe c;
        c.name = names[i];
        c.selected = i < selected.size() ? selected[i] : true;
        c.acceptsDestination = acceptsDestination;
        recipe.components.push_back(c);
    }
}

Bytes Trailer(uint32_t headerOffset, const char magic[4])
{
    Bytes t;
    velkor::PutU32(t, headerOffset);
    t.insert(t.end(), magic, magic + 4);
    return t;
}

Bytes SizedPackage(const Bytes &image, const velkor::PackageRecipe &recipe, const std::vector<uint32_t> &sizes)
{
    Bytes file = image;
    uint32_t offset = uint32_t(file.size());
    std::vector<uint32_t> unpacked(recipe.components.size(), 0);
    for (size_t i = 0; i < sizes.size() && i < unpacked.size(); ++i)
        unpacked[i] = sizes[i];
    Bytes header = velkor::BuildHeader(recipe, std::vector<uint32_t>(unpacked.size(), offset), unpacked);
    file.insert(file.end(), header.begin(), header.end());
    Bytes trailer = Trailer(offset);
    file.insert(file.end(), trailer.begin(), trailer.end());
    return file;
}

}  // namespace testsupport
