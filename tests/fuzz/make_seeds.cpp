// Writes seed corpora for the fuzz targets with the package builder: small
// packages of every shape the loader meets, and chunks for the decoder.
#include "pkgwrite.h"

#include <fstream>
#include <string>

using velkor::Bytes;

static void Write(const std::string &path, const Bytes &b)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
}

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    std::string loader = argv[1], inflate = argv[2];
    Bytes image(64, 'M');
    int n = 0;
    for (int shape = 0; shape < 6; ++shape) {
        velkor::PackageRecipe s;
        s.softwareName = u"App";
        s.companyName = u"Co";
        s.destination = u"\\Program Files\\%SoftwareName%";
        s.pageFlags = uint8_t(shape * 13 % 64);
        s.useDefaultLocation = uint8_t(shape & 1);
        if (shape > 1)
            s.variables = {{u"%V%", u"1.0"}, {u"$x", u"%V%"}};
        for (int c = 0; c < shape; ++c)
            s.components.push_back({u"Part " + std::u16string(1, char16_t('A' + c)), Bytes(size_t(40 * c + 1), uint8_t(c)),
                                    c % 2 == 0, c % 3 != 0});
        s.texts = velkor::DefaultTexts();
        if (shape == 5)
            s.texts.resize(29);
        Write(loader + "/seed" + std::to_string(n++), velkor::BuildPackage(image, s, 1));
    }
    for (size_t size : {0, 1, 300, 5000}) {
        Bytes data(size);
        for (size_t i = 0; i < size; ++i)
            data[i] = uint8_t(i % 7 == 0 ? i : 'a');
        Bytes seed;
        velkor::PutU32(seed, uint32_t(size));
        Bytes z = velkor::ZlibCompress(data);
        seed.insert(seed.end(), z.begin(), z.end());
        Write(inflate + "/seed" + std::to_string(size), seed);
    }
    return 0;
}
