// fixtures.cpp -- the packages of the ARM differential, made at test time:
//
//   armcore_fixtures OUTDIR VELKOR STUB SOURCE_DIR
//
// writes OUTDIR/packages/NNNN-NAME.exe:
//  * made by velkor (onto STUB, the device's setup.exe) from manifests: the
//    sample (samples/make-sample-cabs.sh), variables and long texts, and
//    components of many chunks (sizes at and around the chunk size), each
//    by the VELKOR program; and every page-flag set with and without the
//    default location by its manifest reader and package writer in process
//    (the sanitized program takes half a second to start and end);
//  * made by the package builder velkor uses, from the hostile corpus of the
//    installation tests (tests/install/hostile.h): its two samples, their
//    odd but valid packages, a share of the boundary table, signed files,
//    cuts with and without the trailer put back, a damaged byte in every
//    chunk and text block, and seeded random damage; and a payload of
//    stored (uncompressed) chunks.
// Prints how many packages of each kind it wrote.
#include "build.h"
#include "cabwrite.h"
#include "format.h"
#include "hostile.h"
#include "lebytes.h"
#include "manifest.h"
#include "setupinfo_writer.h"
#include "../../support/pefake.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace fs = std::filesystem;
using velkor::Bytes;

namespace {

fs::path Out, Work;
std::string VelkorExe, Stub, Source;
int Written = 0;
std::map<std::string, int> Kinds;

std::string Clean(const std::string &name)
{
    std::string s;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (ok)
            s += c;
        else if (!s.empty() && s.back() != '-')
            s += '-';
        if (s.size() >= 60)
            break;
    }
    while (!s.empty() && s.back() == '-')
        s.pop_back();
    return s;
}

void WriteFile(const fs::path &p, const Bytes &b)
{
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
}

void WriteText(const fs::path &p, const std::string &s)
{
    std::ofstream(p, std::ios::binary) << s;
}

Bytes ReadFile(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

fs::path NextName(const std::string &kind, const std::string &name)
{
    ++Kinds[kind];
    char number[8];
    snprintf(number, sizeof number, "%04d", Written++);
    return Out / (std::string(number) + "-" + kind + "-" + Clean(name) + ".exe");
}

void Package(const std::string &kind, const std::string &name, const Bytes &file)
{
    WriteFile(NextName(kind, name), file);
}

void Run(const std::string &command)
{
    if (std::system(command.c_str()) != 0) {
        fprintf(stderr, "armcore_fixtures: failed: %s\n", command.c_str());
        exit(1);
    }
}

std::string Quote(const fs::path &p)
{
    return "'" + p.string() + "'";
}

// `velkor build` of a manifest onto the device stub; what velkor says is
// shown only when it fails.
void Build(const std::string &kind, const std::string &name, const fs::path &manifest)
{
    fs::path out = NextName(kind, name), log = Work / "velkor.log";
    std::string command = Quote(VelkorExe) + " build " + Quote(manifest) + " --stub " + Quote(Stub) + " -o " +
                          Quote(out) + " >" + Quote(log) + " 2>&1";
    if (std::system(command.c_str()) != 0) {
        fprintf(stderr, "armcore_fixtures: failed: %s\n", command.c_str());
        Run("cat " + Quote(log) + " >&2");
        exit(1);
    }
}

// The same in process: velkor's manifest reader and package writer (without
// the build command's file handling, whose fsync costs more than the rest).
void BuildHere(const std::string &kind, const std::string &name, const fs::path &manifest)
{
    static const Bytes stub = ReadFile(Stub);
    velkor::Manifest m = velkor::LoadManifest(manifest.string());
    velkor::PackageRecipe recipe = velkor::RecipeForLanguage(m, "");
    for (size_t i = 0; i < recipe.components.size(); ++i)
        recipe.components[i].cab = ReadFile(m.components[i].cabPath);
    Package(kind, name, velkor::BuildPackage(stub, recipe, 1));
}

// ---- CABs for the manifests ----

Bytes Prose(size_t n, uint32_t seed)
{
    static const char *const words[] = {"note", "pocket", "list", "sketch", "folder", "find", "keep", "sync", "page"};
    std::string s;
    uint32_t x = seed;
    while (s.size() < n) {
        x = x * 1103515245u + 12345u;
        s += words[(x >> 16) % 9];
        s += (x >> 8) % 11 == 0 ? ".\r\n" : " ";
    }
    return Bytes(s.begin(), s.begin() + n);
}

Bytes Noise(size_t n, uint32_t seed)
{
    Bytes b(n);
    uint32_t x = seed;
    for (auto &c : b) {
        x = x * 1664525u + 1013904223u;
        c = uint8_t(x >> 24);
    }
    return b;
}

// A device CAB (uncompressed, as the tests' writer makes them) of exactly
// `size` bytes when size is at least the CAB's own overhead: setup
// information that installs one file to \Program Files\Tool.
Bytes CabOfSize(size_t size, bool noise, uint32_t seed)
{
    testcab::SetupInfoSpec info;
    info.strings = {{1, "%CE1%"}, {2, "Tool"}};
    info.dirs = {{1, {1, 2}}};
    info.files = {{1, 1, 0, "data.bin"}};
    Bytes setupInfo = testcab::WriteSetupInfo(info);
    auto make = [&](size_t n) {
        return installtest::MakeCab({{"TOOL.000", setupInfo}, {"TOOL.001", noise ? Noise(n, seed) : Prose(n, seed)}});
    };
    size_t overhead = make(0).size();
    return make(size > overhead ? size - overhead : 1);
}

const char *const PageNames[] = {"welcome", "agreement", "components", "location", "destination", "ready"};

std::string PagesList(int flags)
{
    std::string s = "[";
    for (int i = 0; i < 6; ++i)
        if (flags & (1 << i))
            s += std::string(s.size() > 1 ? ", " : "") + "\"" + PageNames[i] + "\"";
    return s + "]";
}

void ManifestPackages()
{
    // The sample, as its README makes it.
    fs::path sample = Work / "sample";
    Run("bash " + Quote(fs::path(Source) / "samples/make-sample-cabs.sh") + " " + Quote(sample) + " >/dev/null");
    Build("sample", "pocket-notes", sample / "manifest.toml");

    // Every page-flag set, with and without the default location.
    fs::path pages = Work / "pages";
    fs::create_directories(pages);
    WriteFile(pages / "main.cab", CabOfSize(3000, false, 1));
    WriteFile(pages / "extra.cab", CabOfSize(500, true, 2));
    for (int flags = 0; flags < 64; ++flags)
        for (int useDefault = 0; useDefault < 2; ++useDefault) {
            std::string m = "[package]\nname = \"Pages\"\ncompany = \"Acme\"\n"
                            "destination = '\\Program Files\\%SoftwareName%'\n"
                            "use_default_location = " + std::string(useDefault ? "true" : "false") + "\n" +
                            "pages = " + PagesList(flags) + "\n\n"
                            "[[component]]\nname = \"Main\"\ncab = \"main.cab\"\n\n"
                            "[[component]]\nname = \"Extra\"\ncab = \"extra.cab\"\nselected = false\n"
                            "accepts_destination = false\n";
            fs::path manifest = pages / ("pages" + std::to_string(flags) + "-" + std::to_string(useDefault) + ".toml");
            WriteText(manifest, m);
            BuildHere("pages", std::to_string(flags) + "-default-" + std::to_string(useDefault), manifest);
        }

    // Variables and long texts: placeholders in every case, variables that
    // name each other (applied in order) or themselves, text beyond the
    // basic plane and letters the case folding knows, and texts of up to
    // 100 KB from files.
    fs::path texts = Work / "texts";
    fs::create_directories(texts);
    WriteFile(texts / "main.cab", CabOfSize(5000, false, 3));
    std::string agreement;
    for (int i = 0; agreement.size() < 100000; ++i)
        agreement += "<p>" + std::to_string(i) + ". %SoftwareName% (%VERSION%) by %companyname%: \u00c9T\u00c9 "
                     "\u0394\u0395\u039b\u03a4\u0391 \u0416\u0401\u0429 \U0001F600 %Site% %unknown% 100%</p>\n";
    WriteText(texts / "license.txt", agreement);
    std::string readme;
    for (int i = 0; readme.size() < 70000; ++i)
        readme += "%Version%%Version%%Site%" + std::string(size_t(i % 17), 'x') + "\u00e9\u00c9";
    WriteText(texts / "ready.txt", readme);
    WriteText(texts / "manifest.toml",
              "[package]\nname = \"\u00c9crire \u0394\u03b5\u03bb\u03c4\u03b1\"\ncompany = \"\u0416\u0443\u043a & Co\"\n"
              "destination = '\\Program Files\\%CompanyName%\\%SoftwareName% %Version%'\n"
              "use_default_location = false\n"
              "pages = [\"welcome\", \"agreement\", \"location\", \"destination\", \"ready\"]\n\n"
              "[[variable]]\nname = \"%Version%\"\nvalue = \"2.3 (%Build%)\"\n\n"
              "[[variable]]\nname = \"%Build%\"\nvalue = \"build 77\"\n\n"
              "[[variable]]\nname = \"%Site%\"\nvalue = \"www.example.com/%site%/\u00e9t\u00e9\"\n\n"
              "[[variable]]\nname = \"$tag\"\nvalue = \"[$TAG]\"\n\n"
              "[[variable]]\nname = \"\u00c9T\u00c9\"\nvalue = \"summer\"\n\n"
              "[[component]]\nname = \"Main %Version%\"\ncab = \"main.cab\"\n\n"
              "[texts]\nwindow_title = \"%softwarename% %VERSION% Setup $tag\"\n"
              "welcome_title = \"%SoftwareName%%SoftwareName%%CompanyName%\"\n"
              "welcome_body = \"\"\"\n<p>\u00e9t\u00e9 \u00c9t\u00c9 \U0001F600 %Site%</p>\"\"\"\n"
              "agreement_body = { file = \"license.txt\" }\n"
              "ready_body = { file = \"ready.txt\" }\n");
    Build("texts", "variables-and-long-texts", texts / "manifest.toml");

    // Components of many chunks, at and around the chunk size.
    fs::path chunks = Work / "chunks";
    fs::create_directories(chunks);
    struct {
        const char *name;
        size_t size;
        bool noise;
    } cabs[] = {{"tiny", 200, false},          {"one-less", CHUNK_SIZE - 1, false},
                {"exact", CHUNK_SIZE, true},    {"one-more", CHUNK_SIZE + 1, false},
                {"two-exact", 2 * CHUNK_SIZE, false}, {"noise-300k", 300000, true},
                {"prose-1m", 1 << 20, false}};
    std::string m = "[package]\nname = \"Chunks\"\ncompany = \"Acme\"\npages = [\"components\", \"ready\"]\n";
    uint32_t seed = 10;
    for (const auto &c : cabs) {
        WriteFile(chunks / (std::string(c.name) + ".cab"), CabOfSize(c.size, c.noise, seed++));
        m += std::string("\n[[component]]\nname = \"") + c.name + "\"\ncab = \"" + c.name + ".cab\"\n";
    }
    WriteText(chunks / "manifest.toml", m);
    Build("chunks", "many-chunks", chunks / "manifest.toml");
}

// ---- the hostile corpus ----

// The Block at `at`: where its data start and how long they are.
void BlockAt(const Bytes &f, size_t at, size_t *data, size_t *size)
{
    bool compressed = f[at] != 0;
    *size = testsupport::Get32(f, at + 1);
    *data = at + (compressed ? BLOCK_PREFIX_COMPRESSED : BLOCK_PREFIX_STORED);
}

void HostilePackages(const Bytes &stub)
{
    using namespace installtest;
    HostileSample two = TwoComponentSample();
    HostileSample demo = DemoLikeSample();
    HostileSample onStub = DemoLikeSample(stub, 0x2D);
    Package("builder", two.name, two.file);
    Package("builder", demo.name, demo.file);
    Package("builder", "demo-like on the device stub", onStub.file);

    // (Not the 1 MiB texts: they take the emulator seconds; the manifest's
    // long texts stand for them.)
    for (const HostileCase &c : OddCases())
        if (c.name.find("1 MiB") == std::string::npos)
            Package("odd", c.name, c.file);

    // A share of the boundary table: every field with its first, middle and
    // last value; every value of the trailer, counts and the first payload.
    std::vector<HostileCase> boundary = BoundaryCases(two);
    for (size_t i = 0; i < boundary.size(); ++i) {
        const std::string &n = boundary[i].name;
        bool all = n.find("count") != std::string::npos || n.find("trailer") != std::string::npos ||
                   n.find("payload 0") != std::string::npos;
        if (all || i % 3 == 0)
            Package("boundary", n, boundary[i].file);
    }

    HostileSample signedSample = Signed(TwoComponentSample(pefake::Image(false, 4096)));
    Package("signed", signedSample.name, signedSample.file);
    std::vector<HostileCase> signedCases = SignedCases(signedSample);
    for (size_t i = 0; i < signedCases.size(); i += 2)
        Package("signed", signedCases[i].name, signedCases[i].file);

    // Cuts: plain prefixes, and prefixes with the trailer put back (every
    // 131st byte, and every byte of the first 16 of each payload).
    const Bytes &f = demo.file;
    Bytes trailer(f.end() - 8, f.end());
    for (size_t cut = demo.headerOffset; cut < f.size(); ++cut) {
        bool nearPayload = false;
        for (uint32_t p : demo.payloadOffsets)
            nearPayload |= cut >= p && cut < p + 16;
        if (!nearPayload && (cut - demo.headerOffset) % 131 != 0)
            continue;
        Bytes b(f.begin(), f.begin() + cut);
        b.insert(b.end(), trailer.begin(), trailer.end());
        Package("cut", "at " + std::to_string(cut) + " with the trailer", b);
        if ((cut - demo.headerOffset) % (131 * 4) == 0)
            Package("cut", "at " + std::to_string(cut), Bytes(f.begin(), f.begin() + cut));
    }

    // A damaged byte in the middle of every chunk of every payload, and at
    // the start of the stream of the first and last text.
    for (size_t k = 0; k < demo.payloadOffsets.size(); ++k) {
        size_t at = demo.payloadOffsets[k];
        uint32_t count = testsupport::Get32(f, at);
        at += 4;
        for (uint32_t c = 0; c < count && at < f.size() - 8; ++c) {
            size_t data, size;
            BlockAt(f, at, &data, &size);
            Bytes b = f;
            b[data + size / 2] ^= 0x5A;
            Package("damaged", "component " + std::to_string(k) + " chunk " + std::to_string(c) + " middle", b);
            Bytes s = f;
            s[data + 1] ^= 0x01;   // the zlib header's check byte
            Package("damaged", "component " + std::to_string(k) + " chunk " + std::to_string(c) + " stream header", s);
            at = data + size;
        }
    }
    for (const Field &field : FieldsOf(demo))
        if (field.kind == Field::Compressed && field.name.find("text") != std::string::npos) {
            size_t data, size;
            BlockAt(f, field.offset, &data, &size);
            for (size_t where : {data + 2, data + size / 2, data + size - 1}) {
                Bytes b = f;
                b[where] ^= 0x21;
                Package("damaged", field.name + " at " + std::to_string(where - data), b);
            }
        }
    for (uint32_t seed = 1; seed <= 40; ++seed)
        Package("random", "seed " + std::to_string(seed),
                RandomDamage(seed % 2 ? two.file : demo.file, seed % 2 ? two.headerOffset : demo.headerOffset, seed,
                             seed % 4 < 2 ? 0.002 : 0.02));

    // Stored chunks: a payload written without compression, cut to chunks
    // of the usual size and of odd sizes.
    for (uint32_t chunk : {65536u, 1000u, 1u << 17}) {
        velkor::PackageRecipe r = two.recipe;
        std::vector<Bytes> payloads;
        std::vector<uint32_t> sizes;
        for (const auto &c : r.components) {
            payloads.push_back(StoredPayload(c.cab, chunk));
            sizes.push_back(uint32_t(c.cab.size()));
        }
        Package("stored", "chunks of " + std::to_string(chunk), Assemble(r, payloads, sizes).bytes);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: armcore_fixtures OUTDIR VELKOR STUB SOURCE_DIR\n");
        return 2;
    }
    fs::path dir = argv[1];
    VelkorExe = fs::absolute(argv[2]).string();
    Stub = fs::absolute(argv[3]).string();
    Source = fs::absolute(argv[4]).string();
    Out = dir / "packages";
    Work = dir / "work";
    fs::remove_all(Out);
    fs::remove_all(Work);
    fs::create_directories(Out);
    fs::create_directories(Work);
    try {
        ManifestPackages();
        HostilePackages(ReadFile(Stub));
    } catch (const std::exception &e) {
        fprintf(stderr, "armcore_fixtures: %s\n", e.what());
        return 1;
    }
    fs::remove_all(Work);
    printf("armcore_fixtures: %d packages in %s:", Written, Out.c_str());
    for (const auto &[kind, n] : Kinds)
        printf(" %d %s", n, kind.c_str());
    printf("\n");
    return 0;
}
