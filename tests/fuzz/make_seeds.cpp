// Writes seed corpora for the fuzz targets with the package builder: small
// packages of every shape the loader meets, and chunks for the decoder.
#include "pkgwrite.h"
#include "../support/pefake.h"

#include <fstream>
#include <iterator>
#include <string>

using velkor::Bytes;

static void Write(const std::string &path, const Bytes &b)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
}

static void WriteText(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// Manifests: the sample's, and small ones that reach each table and key,
// every text name and the usual mistakes.
static void WriteManifests(const std::string &dir, const std::string &sample)
{
    std::ifstream in(sample, std::ios::binary);
    WriteText(dir + "/sample.toml", std::string(std::istreambuf_iterator<char>(in), {}));
    const std::string base = "[package]\nname = \"App\"\ncompany = \"Co\"\npages = [\"welcome\", \"ready\"]\n"
                             "[[component]]\nname = \"Main\"\ncab = \"a.cab\"\n";
    WriteText(dir + "/minimal.toml", base);
    WriteText(dir + "/full.toml",
              "[package]\nname = \"App\"\ncompany = \"Co\"\ndestination = '\\Program Files\\%SoftwareName%'\n"
              "use_default_location = true\nrequire_install_argument = false\n"
              "pages = [\"welcome\", \"agreement\", \"components\", \"location\", \"destination\", \"ready\"]\n"
              "[[variable]]\nname = \"%V%\"\nvalue = \"1.0\"\n[[variable]]\nname = \"$x\"\nvalue = \"%V%\"\n"
              "[[component]]\nname = \"A\"\ncab = \"a.cab\"\naccepts_destination = false\nselected = false\n"
              "[[component]]\nname = \"B \u00e9\"\ncab = 'c\\b.cab'\n");
    const char *names[] = {"window_title", "next_button", "install_button", "back_button", "cancel_button",
                           "welcome_title", "welcome_body", "agreement_title", "agreement_body", "accept_choice",
                           "decline_choice", "location_title", "location_body", "default_location_choice",
                           "choose_folder_choice", "destination_title", "space_required", "components_title",
                           "components_body", "ready_title", "ready_body", "progress_title", "progress_label",
                           "no_component_selected", "not_enough_space", "install_incomplete", "cannot_install",
                           "package_corrupted", "installer_failed", "confirm_cancel"};
    std::string texts = base + "[texts]\n";
    for (const char *n : names)
        texts += std::string(n) + " = \"\"\"\n<p>%SoftwareName%\r\nline</p>\"\"\"\n";
    WriteText(dir + "/texts.toml", texts);
    WriteText(dir + "/textfile.toml", base + "[texts]\nagreement_body = { file = \"license.txt\" }\n");
    WriteText(dir + "/unknown_key.toml", base + "colour = 3\n");
    WriteText(dir + "/bad_type.toml", base + "selected = \"yes\"\n");
    WriteText(dir + "/no_component.toml", "[package]\nname = \"A\"\ncompany = \"B\"\npages = []\n");
    WriteText(dir + "/syntax.toml", "[package\nname = \"A\n");
}

int main(int argc, char **argv)
{
    if (argc != 3 && argc != 5)
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
        // The same package signed, on a PE32+ and a PE32 image, so that the
        // fuzzer starts from the PE headers and the certificate table too.
        if (shape == 2 || shape == 3) {
            Bytes plain = velkor::BuildPackage(pefake::Image(shape == 2, 512 + size_t(shape)), s, 1);
            Bytes signedFile = pefake::Sign(plain, 64);
            Write(loader + "/signed" + std::to_string(shape), signedFile);
            if (shape == 2) {
                int k = 0;
                for (const pefake::SignedCase &c : pefake::SignedCases(signedFile, uint32_t(plain.size())))
                    Write(loader + "/signed-damage" + std::to_string(k++), c.file);
            }
        }
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
    if (argc == 5)
        WriteManifests(argv[3], argv[4]);
    return 0;
}
