// Loading whole packages: the model it builds, and every way a file can be bad.
#include "testutil.h"
#include "../support/pefake.h"

#include "trailer.h"

#include <gtest/gtest.h>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <set>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using velkor::Bytes;

namespace {

Bytes Build(const velkor::PackageRecipe &recipe) { return velkor::BuildPackage(SampleImage(), recipe, 1); }

uint32_t HeaderOffsetOf(const Bytes &file)
{
    return testsupport::Get32(file, file.size() - 8);
}

// Loads, checks nothing leaked once released, and returns the result.
LoadResult LoadAndRelease(const Bytes &file)
{
    long before = VHeapLiveBlocks();
    LoadResult r = LoadFromMemory(file);
    ReleasePackage();
    EXPECT_EQ(VHeapLiveBlocks(), before);
    return r;
}

}  // namespace

TEST(LoadPackage, ReadsTheWholeModel)
{
    velkor::PackageRecipe recipe = SampleRecipe();
    Bytes file = Build(recipe);
    ASSERT_EQ(LoadFromMemory(file), LoadSucceeded);
    EXPECT_EQ(U(Package.SoftwareName), u"Tool");
    EXPECT_EQ(U(Package.CompanyName), u"Acme");
    EXPECT_EQ(U(Package.DestinationPath), u"\\Program Files\\Tool");
    EXPECT_EQ(Package.UseDefaultLocation, 0);
    EXPECT_EQ(Package.PageFlags, 0x25);
    EXPECT_EQ(Package.FirstPage, PageWelcome);
    EXPECT_EQ(Package.LastPage, PageReady);
    ASSERT_EQ(Package.ComponentCount, 2u);
    EXPECT_EQ(U(Package.Components[0].Name), u"Main program");
    EXPECT_EQ(Package.Components[0].UnpackedSize, 70000u);
    EXPECT_EQ(Package.Components[0].AcceptsDestination, 1);
    EXPECT_EQ(Package.Components[1].Selected, 0);
    EXPECT_GT(Package.Components[0].PayloadOffset, HeaderOffsetOf(file));
    EXPECT_LT(Package.Components[0].PayloadOffset, Package.Components[1].PayloadOffset);
    ASSERT_EQ(Package.TextCount, 30u);
    EXPECT_EQ(U(Package.TextTable[TextWindowTitle]), u"Tool Setup");
    EXPECT_EQ(U(Package.TextTable[TextConfirmCancel]), u"Cancel Tool 2.1?");
    ReleasePackage();
}

TEST(LoadPackage, ReadsFromTheNamedFile)
{
    Bytes file = Build(SampleRecipe());
    char name[] = "/tmp/velkor-loadXXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, file.data(), file.size()), ssize_t(file.size()));
    close(fd);
    std::u16string path = velkor::Utf8ToUtf16(name);
    std::copy(path.begin(), path.end() + 1, ModulePath);
    EXPECT_EQ(LoadPackage(), LoadSucceeded);
    ReleasePackage();
    unlink(name);
    EXPECT_EQ(LoadPackage(), LoadCannotOpen);
    ReleasePackage();
}

TEST(LoadPackage, DestinationSeesOnlyTheNames)
{
    velkor::PackageRecipe recipe = SampleRecipe();
    recipe.destination = u"\\%CompanyName%\\%Version%";
    recipe.texts[TextWelcomeTitle] = u"v%version%";
    ASSERT_EQ(LoadFromMemory(Build(recipe)), LoadSucceeded);
    EXPECT_EQ(U(Package.DestinationPath), u"\\Acme\\%Version%");
    EXPECT_EQ(U(Package.TextTable[TextWelcomeTitle]), u"v2.1");
    ReleasePackage();
}

TEST(LoadPackage, ComponentNamesStayAsStored)
{
    velkor::PackageRecipe recipe = SampleRecipe();
    recipe.components[0].name = u"%SoftwareName% core";
    recipe.softwareName = u"";
    recipe.texts[TextWelcomeTitle] = u"[%SOFTWARENAME%]";
    ASSERT_EQ(LoadFromMemory(Build(recipe)), LoadSucceeded);
    EXPECT_EQ(U(Package.Components[0].Name), u"%SoftwareName% core");
    EXPECT_EQ(U(Package.TextTable[TextWelcomeTitle]), u"[]");
    ReleasePackage();
}

TEST(LoadPackage, DerivesFirstAndLastPage)
{
    struct Row {
        uint8_t flags, useDefault, kept, first, last;
    } rows[] = {
        {0x25, 1, 0x25, 1, 32}, {0x3F, 0, 0x3F, 1, 32}, {0, 1, 0, 0, 0},     {16, 1, 0, 0, 0},
        {16, 0, 16, 16, 16},    {24, 1, 24, 8, 16},     {6, 0, 6, 2, 4},     {48, 1, 48, 16, 32},
        {64, 0, 0, 0, 0},       {128, 1, 0, 0, 0},      {0xC4, 0, 4, 4, 4},  {16 | 64, 1, 0, 0, 0},
    };
    for (const Row &r : rows) {
        velkor::PackageRecipe recipe = SampleRecipe();
        recipe.pageFlags = r.flags;
        recipe.useDefaultLocation = r.useDefault;
        ASSERT_EQ(LoadFromMemory(Build(recipe)), LoadSucceeded);
        EXPECT_EQ(Package.PageFlags, r.kept) << int(r.flags);
        EXPECT_EQ(Package.FirstPage, r.first) << int(r.flags);
        EXPECT_EQ(Package.LastPage, r.last) << int(r.flags);
        ReleasePackage();
    }
}

TEST(LoadPackage, TextTableSize)
{
    velkor::PackageRecipe recipe = SampleRecipe();
    recipe.texts.push_back(u"extra %SoftwareName%");
    ASSERT_EQ(LoadFromMemory(Build(recipe)), LoadSucceeded);
    EXPECT_EQ(Package.TextCount, 31u);
    EXPECT_EQ(U(Package.TextTable[30]), u"extra Tool");
    ReleasePackage();

    recipe.texts.resize(29);
    EXPECT_EQ(LoadAndRelease(Build(recipe)), LoadNotAPackage);
    recipe.texts.clear();
    EXPECT_EQ(LoadAndRelease(Build(recipe)), LoadNotAPackage);
}

TEST(LoadPackage, TrailerProblems)
{
    Bytes file = Build(SampleRecipe());
    EXPECT_EQ(LoadAndRelease(Bytes()), LoadNotAPackage);
    EXPECT_EQ(LoadAndRelease(Bytes{'V', 'K', 'R', '1'}), LoadNotAPackage);
    EXPECT_EQ(LoadAndRelease(Bytes(7, 0)), LoadNotAPackage);
    Bytes wrongMagic = file;
    wrongMagic.back() = '2';
    EXPECT_EQ(LoadAndRelease(wrongMagic), LoadNotAPackage);

    struct {
        const char *name;
        uint32_t offset;
    } offsets[] = {{"past the end", uint32_t(file.size() + 100)}, {"inside the trailer", uint32_t(file.size() - 6)},
                   {"at 0", 0}, {"2^32-1", 0xFFFFFFFFu}};
    for (auto &o : offsets) {
        Bytes bad = file;
        for (int i = 0; i < 4; ++i)
            bad[bad.size() - 8 + i] = uint8_t(o.offset >> (8 * i));
        EXPECT_EQ(LoadAndRelease(bad), LoadDamaged) << o.name;
    }
    Bytes junk = file;
    junk.insert(junk.end(), {1, 2, 3});
    EXPECT_EQ(LoadAndRelease(junk), LoadNotAPackage);   // the trailer must be the last 8 bytes
}

namespace {

// Writes a header by hand so that each count can be set to any value.
Bytes HandHeader(uint32_t variables, uint32_t components, uint32_t texts, size_t realTexts = 30)
{
    Bytes out = SampleImage();
    uint32_t headerOffset = uint32_t(out.size());
    velkor::PutPackageString(out, u"S");
    velkor::PutPackageString(out, u"C");
    velkor::PutTextBlock(out, u"\\D");
    out.insert(out.end(), {0, 0, 1});
    velkor::PutU32(out, variables);
    velkor::PutU32(out, components);
    velkor::PutU32(out, texts);
    for (size_t i = 0; i < realTexts; ++i)
        velkor::PutTextBlock(out, u"t");
    velkor::PutU32(out, headerOffset);
    out.insert(out.end(), {'V', 'K', 'R', '1'});
    return out;
}

}  // namespace

TEST(LoadPackage, CountsTheFileCannotHold)
{
    struct {
        const char *name;
        uint32_t variables, components, texts;
        LoadResult expect;
    } cases[] = {
        {"consistent", 0, 0, 30, LoadSucceeded},
        {"one variable too many", 1, 0, 30, LoadDamaged},   // eats texts, then runs out
        {"variables 2^31-1", 0x7FFFFFFF, 0, 30, LoadDamaged},
        {"variables 2^31", 0x80000000u, 0, 30, LoadDamaged},
        {"variables 2^32-1", 0xFFFFFFFFu, 0, 30, LoadDamaged},
        {"components 2^32-1", 0, 0xFFFFFFFFu, 30, LoadDamaged},
        {"components 2^28 (size would wrap in 32 bits)", 0, 0x10000000u, 30, LoadDamaged},
        {"texts 31 with 30 present", 0, 0, 31, LoadDamaged},
        {"texts 2^32-1", 0, 0, 0xFFFFFFFFu, LoadDamaged},
        {"texts 2^30 (pointer table would wrap)", 0, 0, 0x40000000u, LoadDamaged},
    };
    for (auto &c : cases) {
        VHeapFailAt(0);
        EXPECT_EQ(LoadAndRelease(HandHeader(c.variables, c.components, c.texts)), c.expect) << c.name;
    }
}

namespace {

// The items of a hand-written header that a damaged encoding can stand in for.
enum Item { Plain, SoftwareName, Destination, VariableName, VariableValue, ComponentName, FirstText, LastText };

// A header with one variable, one component and thirty texts, in which
// `item` is encoded as `bad` instead of as written.
Bytes HeaderWith(Item item, const Bytes &bad)
{
    Bytes out = SampleImage();
    uint32_t headerOffset = uint32_t(out.size());
    auto put = [&](Item here, const std::u16string &text) {
        if (here == item)
            out.insert(out.end(), bad.begin(), bad.end());
        else if (here == SoftwareName)
            velkor::PutPackageString(out, text);
        else
            velkor::PutTextBlock(out, text);
    };
    put(SoftwareName, u"S");
    velkor::PutPackageString(out, u"C");
    put(Destination, u"\\D");
    out.insert(out.end(), {0, 0, 1});
    velkor::PutU32(out, 1);
    put(VariableName, u"%V%");
    put(VariableValue, u"v");
    velkor::PutU32(out, 1);
    out.insert(out.end(), {1, 1, 0, 0, 0, 0, 0, 0, 0, 0});
    put(ComponentName, u"c");
    velkor::PutU32(out, 30);
    for (int i = 0; i < 30; ++i)
        put(i == 0 ? FirstText : i == 29 ? LastText : Plain, u"t");
    velkor::PutU32(out, headerOffset);
    out.insert(out.end(), {'V', 'K', 'R', '1'});
    return out;
}

}  // namespace

// Damaged encodings of every kind of item are damage, never memory: the
// user is told to fetch the package again, not to try later.
TEST(LoadPackage, DamagedItemsAreDamageNotMemory)
{
    const std::u16string text = u"a text long enough that its stream has deflate data of its own";
    Bytes good;
    velkor::PutTextBlock(good, text);
    const size_t data = BLOCK_PREFIX_COMPRESSED, stored = good.size() - data;
    auto changed = [&](std::function<void(Bytes &)> change) {
        Bytes b = good;
        change(b);
        return b;
    };
    struct {
        const char *damage;
        Bytes block;
    } blocks[] = {
        {"deflate data", changed([&](Bytes &b) { b[data + stored / 2] ^= 0x55; })},
        {"Adler-32 check", changed([&](Bytes &b) { b.back() ^= 1; })},
        {"zlib header", changed([&](Bytes &b) { b[data] = 0x12; })},
        {"stream cut short", changed([&](Bytes &b) {
             b.resize(b.size() - 4);
             velkor::Bytes size;
             velkor::PutU32(size, uint32_t(stored - 4));
             std::copy(size.begin(), size.end(), b.begin() + 1);
         })},
        {"decoded size too small", changed([&](Bytes &b) { b[5] = 2, b[6] = b[7] = b[8] = 0; })},
        {"stored size past the end", changed([&](Bytes &b) { b[1] = b[2] = b[3] = 0xF0, b[4] = 0x0F; })},
        {"stored size 2^32-1", changed([&](Bytes &b) { b[1] = b[2] = b[3] = b[4] = 0xFF; })},
    };
    for (Item item : {Destination, VariableName, VariableValue, ComponentName, FirstText, LastText}) {
        ASSERT_EQ(LoadAndRelease(HeaderWith(item, good)), LoadSucceeded) << item;
        for (const auto &b : blocks)
            EXPECT_EQ(LoadAndRelease(HeaderWith(item, b.block)), LoadDamaged) << "item " << item << ": " << b.damage;
    }
    for (const Bytes &name : {Bytes{0xFF, 0xFF, 0xFF, 0xFF, 'S', 0}, Bytes{0x00, 0x00, 0x01, 0x00, 'S', 0}})
        EXPECT_EQ(LoadAndRelease(HeaderWith(SoftwareName, name)), LoadDamaged);
}

TEST(LoadPackage, EveryPrefixLoadsToACleanResult)
{
    Bytes file = Build(SampleRecipe());
    // A prefix drops the trailer, so the same bytes are tried again with the
    // real trailer put back after the cut.
    for (size_t n = 0; n < file.size(); ++n) {
        Bytes prefix(file.begin(), file.begin() + n);
        EXPECT_EQ(LoadAndRelease(prefix), LoadNotAPackage) << n;
        if (n >= HeaderOffsetOf(file) && n % 7 == 0) {
            Bytes cut = prefix;
            cut.insert(cut.end(), file.end() - 8, file.end());
            LoadResult r = LoadAndRelease(cut);
            // Nothing runs short of memory here: a cut is damage.
            EXPECT_TRUE(r == LoadDamaged || r == LoadNotAPackage || r == LoadSucceeded) << n << ": " << r;
        }
    }
}

TEST(LoadPackage, EverySingleByteChangeInTheHeader)
{
    Bytes file = Build(SampleRecipe());
    uint32_t header = HeaderOffsetOf(file);
    ASSERT_EQ(LoadFromMemory(file), LoadSucceeded);
    uint32_t payload = Package.Components[0].PayloadOffset;
    ReleasePackage();
    int succeeded = 0, failed = 0;
    for (uint32_t at = header; at < payload; ++at) {
        for (uint8_t v : {uint8_t(file[at] ^ 0x01), uint8_t(file[at] ^ 0x80), uint8_t(0x00), uint8_t(0xFF)}) {
            if (v == file[at])
                continue;
            Bytes bad = file;
            bad[at] = v;
            LoadResult r = LoadAndRelease(bad);
            ASSERT_TRUE(r == LoadSucceeded || r == LoadDamaged || r == LoadNotAPackage) << at << ": " << r;
            (r == LoadSucceeded ? succeeded : failed)++;
        }
    }
    EXPECT_GT(failed, 0);
    EXPECT_GT(succeeded, 0);    // flag bytes and sizes the loader does not check
}

TEST(LoadPackage, EveryAllocationFailureIsOutOfMemoryWithNothingLeaked)
{
    Bytes file = Build(SampleRecipe());
    long before = VHeapLiveBlocks();
    unsigned long k = 1;
    for (;; ++k) {
        VHeapFailAt(k);
        LoadResult r = LoadFromMemory(file);
        unsigned long used = VHeapAllocations();
        VHeapFailAt(0);
        ReleasePackage();
        ASSERT_EQ(VHeapLiveBlocks(), before) << "k=" << k;
        if (k > used) {
            EXPECT_EQ(r, LoadSucceeded);
            break;
        }
        ASSERT_EQ(r, LoadOutOfMemory) << "k=" << k;
    }
    EXPECT_GT(k, 100u);
}

namespace {

// A header whose last field before `left` bytes of the file is a stored text
// block that swallows the trailer but for its last `left` bytes, so that the
// file ends inside the field read next.  `before` writes the fields between
// the two names and that block.
Bytes EndingInside(void (*before)(Bytes &), uint32_t left)
{
    Bytes out = SampleImage();
    uint32_t headerOffset = uint32_t(out.size());
    velkor::PutPackageString(out, u"S");
    velkor::PutPackageString(out, u"C");
    before(out);
    Bytes text = {'s', 0, 'w', 0, 'a', 0, 'l', 0, 'l', 0, 'o', 0, 'w', 0, 'i', 0, 'n', 0, 'g', 0, 0, 0};
    out.push_back(0);
    velkor::PutU32(out, uint32_t(text.size() + 8 - left));
    out.insert(out.end(), text.begin(), text.end());
    velkor::PutU32(out, headerOffset);
    out.insert(out.end(), {'V', 'K', 'R', '1'});
    return out;
}

void NothingMore(Bytes &) {}
void OneVariable(Bytes &out)
{
    velkor::PutTextBlock(out, u"\\D");
    out.insert(out.end(), {0, 0, 1});
    velkor::PutU32(out, 1);
    velkor::PutTextBlock(out, u"$V");
}
void OneComponent(Bytes &out)
{
    velkor::PutTextBlock(out, u"\\D");
    out.insert(out.end(), {0, 0, 1});
    velkor::PutU32(out, 0);
    velkor::PutU32(out, 1);
    out.insert(out.end(), {1, 1, 0, 0, 0, 0, 0, 0, 0, 0});
}
void TwoComponents(Bytes &out)
{
    velkor::PutTextBlock(out, u"\\D");
    out.insert(out.end(), {0, 0, 1});
    velkor::PutU32(out, 0);
    velkor::PutU32(out, 2);
    out.insert(out.end(), {1, 1, 0, 0, 0, 0, 0, 0, 0, 0});
}

}  // namespace

TEST(LoadPackage, FileEndingInsideAFixedField)
{
    // The flag bytes, the counts and a component's fixed fields are read
    // without checks of their own; a file that ends inside any of them is
    // a failed read like every other.
    struct {
        const char *field;
        void (*before)(Bytes &);
        uint32_t fromLeft, toLeft;
    } cases[] = {
        {"flag bytes", NothingMore, 0, 2},
        {"variable count", NothingMore, 3, 6},
        {"component count", OneVariable, 0, 3},
        {"second component's fixed fields", TwoComponents, 0, 8},
        {"text count", OneComponent, 0, 3},
    };
    for (const auto &c : cases) {
        for (uint32_t left = c.fromLeft; left <= c.toLeft; ++left)
            EXPECT_EQ(LoadAndRelease(EndingInside(c.before, left)), LoadDamaged) << c.field << ", " << left;
    }
}

TEST(LoadPackage, NamedFileThatIsNoPlainFile)
{
    // A folder opens on this platform but every read fails; a pipe cannot
    // be measured.  Neither is a package, and nothing is left open or leaked.
    long before = VHeapLiveBlocks();
    char folder[] = "/tmp/velkor-folderXXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::u16string path = velkor::Utf8ToUtf16(folder);
    std::copy(path.begin(), path.end() + 1, ModulePath);
    LoadResult r = LoadPackage();
    EXPECT_TRUE(r == LoadNotAPackage || r == LoadCannotOpen) << r;
    ReleasePackage();
    rmdir(folder);

    char pipe[] = "/tmp/velkor-pipeXXXXXX";
    int fd = mkstemp(pipe);
    ASSERT_GE(fd, 0);
    close(fd);
    unlink(pipe);
    ASSERT_EQ(mkfifo(pipe, 0600), 0);
    int keepOpen = open(pipe, O_RDWR | O_NONBLOCK);   // so that opening it to read does not wait
    ASSERT_GE(keepOpen, 0);
    path = velkor::Utf8ToUtf16(pipe);
    std::copy(path.begin(), path.end() + 1, ModulePath);
    EXPECT_EQ(LoadPackage(), LoadCannotOpen);
    ReleasePackage();
    close(keepOpen);
    unlink(pipe);
    EXPECT_EQ(VHeapLiveBlocks(), before);
}

TEST(LoadPackage, ModulePathOutsideAscii)
{
    // The path is UTF-16 on the device and reaches fopen as UTF-8: letters of
    // two, three and four bytes (a surrogate pair) must name the same file.
    Bytes file = Build(SampleRecipe());
    std::string dir = "/tmp/velkor-\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E-XXXXXX";   // é € 𝄞
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    std::string name = dir + "/setup.exe";
    {
        std::ofstream out(name, std::ios::binary);
        out.write(reinterpret_cast<const char *>(file.data()), std::streamsize(file.size()));
    }
    std::u16string path = velkor::Utf8ToUtf16(name);
    ASSERT_NE(path.find(char16_t(0xD834)), std::u16string::npos) << "the name needs a surrogate pair";
    std::copy(path.begin(), path.end() + 1, ModulePath);
    EXPECT_EQ(LoadPackage(), LoadSucceeded);
    EXPECT_EQ(U(Package.SoftwareName), u"Tool");
    ReleasePackage();
    unlink(name.c_str());
    rmdir(dir.c_str());
}

// ---- signed files: the trailer just before the certificate table ----

namespace {

Bytes BuildOn(const Bytes &image) { return velkor::BuildPackage(image, SampleRecipe(), 1); }

const char *Name(LoadResult r)
{
    static const char *const names[] = {"?",           "LoadSucceeded",   "LoadCannotOpen",
                                        "LoadNotAPackage", "LoadOutOfMemory", "LoadDamaged"};
    return r >= 1 && r <= 5 ? names[r] : "?";
}

}  // namespace

TEST(LoadPackage, SignedFilesOfEveryAlignmentLoadAsTheyWereBuilt)
{
    std::set<size_t> paddings;
    for (bool plus : {true, false}) {
        for (size_t extra = 0; extra < 8; ++extra) {
            Bytes plain = BuildOn(pefake::Image(plus, 1024 + extra));
            Bytes signedFile = pefake::Sign(plain);
            paddings.insert(signedFile.size() - plain.size() - 1536);
            ASSERT_EQ(LoadFromMemory(plain), LoadSucceeded);
            uint32_t offset = Package.Components[1].PayloadOffset;
            ReleasePackage();
            ASSERT_EQ(LoadFromMemory(signedFile), LoadSucceeded) << plus << " " << extra;
            // Offsets stay those of the whole file.
            EXPECT_EQ(Package.Components[1].PayloadOffset, offset);
            EXPECT_EQ(U(Package.TextTable[TextWindowTitle]), u"Tool Setup");
            ReleasePackage();

            PackageReader reader;
            OpenBufferReader(&reader, signedFile.data(), uint32_t(signedFile.size()));
            uint32_t at = 0;
            EXPECT_EQ(FindTrailer(&reader, &at), TrailerBeforeCertificates);
            EXPECT_EQ(at, plain.size() - 8);
            OpenBufferReader(&reader, plain.data(), uint32_t(plain.size()));
            EXPECT_EQ(FindTrailer(&reader, &at), TrailerAtEnd);
        }
    }
    EXPECT_EQ(paddings.size(), 8u);   // 0 to 7 zero bytes before the table
}

TEST(LoadPackage, DamagedSignedFilesEndCleanly)
{
    int cases = 0;
    for (bool plus : {true, false}) {
        for (size_t extra : {0, 3}) {
            Bytes plain = BuildOn(pefake::Image(plus, 1024 + extra));
            for (const pefake::SignedCase &c : pefake::SignedCases(pefake::Sign(plain), uint32_t(plain.size()))) {
                LoadResult r = LoadAndRelease(c.file);
                ++cases;
                std::string label = c.name + (plus ? " (PE32+, " : " (PE32, ") + std::to_string(extra) + ")";
                if (c.expect == pefake::SignedCase::Loads)
                    EXPECT_EQ(r, LoadSucceeded) << label << ": " << Name(r);
                else if (c.expect == pefake::SignedCase::NotAPackage)
                    EXPECT_EQ(r, LoadNotAPackage) << label << ": " << Name(r);
                else
                    EXPECT_TRUE(r == LoadSucceeded || r == LoadDamaged || r == LoadNotAPackage) << label << ": " << Name(r);
            }
        }
    }
    std::cout << "[signed] " << cases << " damaged signed files" << std::endl;
}

TEST(LoadPackage, EveryPrefixOfASignedFile)
{
    Bytes plain = BuildOn(pefake::Image(true, 1027));
    Bytes signedFile = pefake::Sign(plain, 64);
    int loaded = 0;
    for (size_t n = 0; n < signedFile.size(); ++n) {
        LoadResult r = LoadAndRelease(Bytes(signedFile.begin(), signedFile.begin() + n));
        // Cut right after the trailer, it is the unsigned package again.
        EXPECT_EQ(r, n == plain.size() ? LoadSucceeded : LoadNotAPackage) << n;
        loaded += r == LoadSucceeded;
    }
    EXPECT_EQ(loaded, 1);
    EXPECT_EQ(LoadAndRelease(signedFile), LoadSucceeded);
}
