// hostile.cpp -- sample packages, their field map, the boundary table and
// random damage.
#include "hostile.h"
#include "cabwrite.h"
#include "format.h"
#include "../support/pefake.h"

#include <cstdio>
#include <random>

namespace installtest {

// Text that compresses well, so that a CAB of several chunks makes a small
// package and every prefix of it can be tried.
static Bytes Lines(const char *what, size_t size)
{
    Bytes out;
    char line[96];
    for (int n = 1; out.size() < size; ++n) {
        // A period of 40 lines: a 64 KiB chunk deflates to a few hundred bytes.
        int len = snprintf(line, sizeof line, "%s, line %d: the quick brown fox %d\r\n", what, n % 40, n * 7 % 100);
        out.insert(out.end(), line, line + len);
    }
    out.resize(size);
    return out;
}

using Members = std::vector<std::pair<std::string, Bytes>>;

static velkor::ComponentRecipe MakeComponent(HostileSample &s, const std::u16string &name, const Members &members,
                                         bool acceptsDestination, bool selected)
{
    s.members.push_back(members);
    return {name, MakeCab(members), acceptsDestination, selected};
}

static HostileSample Finish(HostileSample s, std::string name, velkor::PackageRecipe recipe, const Bytes &image)
{
    s.name = std::move(name);
    s.file = velkor::BuildPackage(image, recipe, 1);
    for (const auto &c : recipe.components)
        s.cabs.push_back(c.cab);
    s.recipe = std::move(recipe);
    s.headerOffset = Get32(s.file, s.file.size() - 8);
    s.payloadEnd = uint32_t(s.file.size() - 8);
    // The payloads follow the header in component order; their offsets are
    // in the component records, which FieldsOf finds.
    for (const Field &f : FieldsOf(s))
        if (f.kind == Field::Offset && f.name.find("PayloadOffset") != std::string::npos)
            s.payloadOffsets.push_back(Get32(s.file, f.offset));
    return s;
}

HostileSample TwoComponentSample(const Bytes &image)
{
    HostileSample s;
    velkor::PackageRecipe recipe = ToolPackage(0);
    recipe.variables = {{u"%Version%", u"2.1"}};
    recipe.texts[TextWindowTitle] = u"%SoftwareName% %Version% Setup";
    recipe.components.push_back(
        MakeComponent(s, u"Main program", {{"main.txt", Lines("main", 90000)}, {"notes.txt", Lines("notes", 30000)}},
                  true, true));
    recipe.components.push_back(MakeComponent(s, u"Help", {{"help.txt", Lines("help", 3000)}}, false, true));
    return Finish(std::move(s), "two components", recipe, image);
}

HostileSample DemoLikeSample(const Bytes &image, uint8_t pageFlags)
{
    velkor::PackageRecipe recipe = ToolPackage(0, u"\\Program Files\\%SoftwareName%");
    recipe.softwareName = u"Pocket Notes";
    recipe.companyName = u"Velkor Samples";
    recipe.pageFlags = pageFlags;
    recipe.variables = {{u"%Version%", u"2.3"}, {u"%Website%", u"www.example.com/pocketnotes"}};
    recipe.texts[TextWindowTitle] = u"%SoftwareName% %Version% Setup";
    recipe.texts[TextWelcomeBody] = u"<p><b>%SoftwareName% %Version%</b> by %CompanyName%</p><p>%Website%</p>";
    HostileSample s;
    recipe.components.push_back(MakeComponent(
        s, u"Pocket Notes", {{"notes.exe", Lines("notes.exe", 150000)}, {"notes.dll", Lines("notes.dll", 20000)}},
        true, true));
    recipe.components.push_back(MakeComponent(s, u"Help and Tutorial", {{"notes.htm", Lines("help", 20000)}}, true, true));
    recipe.components.push_back(
        MakeComponent(s, u"Spell Checker Dictionary", {{"en.dic", Lines("dictionary", 80000)}}, true, false));
    recipe.components.push_back(MakeComponent(s, u"Sample Notebooks", {{"sample.pnb", Lines("sample", 2000)}}, false, true));
    return Finish(std::move(s), "demo-like", recipe, image);
}

// ------------------------------------------------------------- field map --

namespace {

struct Walker {
    const Bytes &b;
    uint32_t at;
    std::vector<Field> &out;

    uint32_t U32(const std::string &name, Field::Kind kind)
    {
        out.push_back({name, at, 4, kind});
        uint32_t v = Get32(b, at);
        at += 4;
        return v;
    }
    void U8(const std::string &name, Field::Kind kind)
    {
        out.push_back({name, at, 1, kind});
        at += 1;
    }
    void Block(const std::string &name, bool record)
    {
        std::vector<Field> fields;
        Walker inner{b, at, record ? out : fields};
        bool compressed = b[at] != 0;
        inner.U8(name + " compressed byte", Field::Compressed);
        uint32_t stored = inner.U32(name + " stored size", Field::Size);
        if (compressed)
            inner.U32(name + " decoded size", Field::Size);
        at = inner.at + stored;
    }
    void String(const std::string &name)
    {
        uint32_t count = U32(name + " count", Field::Count);
        at += 2 * count;
    }
};

}  // namespace

std::vector<Field> FieldsOf(const HostileSample &s)
{
    std::vector<Field> out;
    const Bytes &b = s.file;
    Walker w{b, Get32(b, b.size() - 8), out};
    w.String("SoftwareName");
    w.String("CompanyName");
    w.Block("destination", true);
    w.U8("UseDefaultLocation", Field::Flag);
    w.U8("RequireInstallArgument", Field::Flag);
    w.U8("PageFlags", Field::Flag);
    uint32_t variables = w.U32("variable count", Field::Count);
    for (uint32_t i = 0; i < variables; ++i) {
        w.Block("variable " + std::to_string(i) + " name", i == 0);
        w.Block("variable " + std::to_string(i) + " value", i == 0);
    }
    uint32_t components = w.U32("component count", Field::Count);
    std::vector<uint32_t> payloads;
    for (uint32_t i = 0; i < components; ++i) {
        std::string c = "component " + std::to_string(i) + " ";
        w.U8(c + "AcceptsDestination", Field::Flag);
        w.U8(c + "Selected", Field::Flag);
        payloads.push_back(Get32(b, w.at));
        w.U32(c + "PayloadOffset", Field::Offset);
        w.U32(c + "UnpackedSize", Field::Size);
        w.Block(c + "name", true);
    }
    uint32_t texts = w.U32("text count", Field::Count);
    for (uint32_t i = 0; i < texts; ++i)
        w.Block("text " + std::to_string(i), i == 0 || i + 1 == texts);
    for (size_t i = 0; i < payloads.size(); ++i) {
        Walker p{b, payloads[i], out};
        std::string c = "payload " + std::to_string(i) + " ";
        p.U32(c + "chunk count", Field::Count);
        p.Block(c + "chunk 0", true);
    }
    out.push_back({"trailer HeaderOffset", uint32_t(b.size() - 8), 4, Field::Offset});
    return out;
}

// --------------------------------------------------------- boundary table --

std::vector<HostileCase> BoundaryCases(const HostileSample &s)
{
    std::vector<HostileCase> out;
    const uint32_t size = uint32_t(s.file.size());
    auto hex = [](uint32_t v) {
        char t[16];
        snprintf(t, sizeof t, "0x%X", v);
        return std::string(t);
    };
    std::vector<Field> fields = FieldsOf(s);
    for (const Field &f : fields) {
        std::vector<std::pair<std::string, uint32_t>> values;
        if (f.width == 1) {
            for (uint32_t v : {0u, 1u, 2u, 64u, 128u, 0xFFu})
                values.push_back({std::to_string(v), v});
        } else {
            uint32_t rest = size - (f.offset + 4);
            values = {{"0", 0},
                      {"1", 1},
                      {"rest of the file", rest},
                      {"rest of the file + 1", rest + 1},
                      {"2^31-1", 0x7FFFFFFFu},
                      {"2^31", 0x80000000u},
                      {"2^32-1", 0xFFFFFFFFu}};
            uint32_t now = Get32(s.file, f.offset);
            if (f.kind == Field::Count || f.kind == Field::Size) {
                values.push_back({"one less", now - 1});
                values.push_back({"one more", now + 1});
            }
            if (f.kind == Field::Count) {
                // Array sizes that wrap in 32 bits: 16-byte component
                // records, 8-byte variable records, 4- or 8-byte text pointers.
                values.push_back({"2^28", 0x10000000u});
                values.push_back({"2^29", 0x20000000u});
                values.push_back({"2^30", 0x40000000u});
            }
            if (f.kind == Field::Offset) {
                values.push_back({"inside the trailer (length-8)", size - 8});
                values.push_back({"inside the trailer (length-4)", size - 4});
                values.push_back({"last byte", size - 1});
                values.push_back({"at the end", size});
                values.push_back({"past the end", size + 100});
                values.push_back({"header", s.headerOffset});
                for (size_t i = 0; i < s.payloadOffsets.size(); ++i)
                    if (s.payloadOffsets[i] != now)
                        values.push_back({"payload " + std::to_string(i), s.payloadOffsets[i]});
            }
            if (f.name.find("UnpackedSize") != std::string::npos) {
                // With every other selected size added, the sum wraps to 1.
                uint32_t others = 0;
                for (const auto &c : s.recipe.components)
                    if (c.selected)
                        others += uint32_t(c.cab.size());
                others -= now;
                values.push_back({"sum of selected sizes wraps to 1", uint32_t(0u - others + 1u)});
                values.push_back({"sum of selected sizes wraps to 0", uint32_t(0u - others)});
            }
            if (f.name.find("chunk 0 decoded size") != std::string::npos) {
                values.push_back({"65535", 65535});
                values.push_back({"65537", 65537});
            }
        }
        for (auto &[label, v] : values) {
            HostileCase c{f.name + " = " + label + " (" + hex(v) + ")", s.file};
            if (f.width == 1)
                c.file[f.offset] = uint8_t(v);
            else
                Set32(c.file, f.offset, v);
            if (c.file != s.file)
                out.push_back(std::move(c));
        }
    }
    return out;
}

std::vector<HostileCase> OddCases(const Bytes &image)
{
    HostileSample base = TwoComponentSample(image);
    std::vector<HostileCase> out;
    auto add = [&](std::string name, velkor::PackageRecipe r) {
        out.push_back({std::move(name), velkor::BuildPackage(image, r, 1), HostileCase::Installs});
    };

    // Junk after the trailer: the trailer is no longer the last 8 bytes.
    Bytes junk = base.file;
    junk.insert(junk.end(), {0x4A, 0x55, 0x4E, 0x4B, 0, 0, 0, 0, 0xFF});
    out.push_back({"junk after the trailer", junk, HostileCase::NotAPackage});
    // The same junk before a trailer put back at the end: nothing reads it.
    Bytes between(base.file.begin(), base.file.end() - 8);
    between.insert(between.end(), 4096, 0xEE);
    between.insert(between.end(), base.file.end() - 8, base.file.end());
    out.push_back({"junk between the payloads and the trailer", between, HostileCase::Installs});

    for (uint8_t flags : {uint8_t(64), uint8_t(128), uint8_t(192), uint8_t(16 | 64)}) {
        velkor::PackageRecipe r = base.recipe;
        r.pageFlags = flags;
        r.useDefaultLocation = 1;
        add("page flags " + std::to_string(flags) + " with the default location", r);
    }

    const std::u16string lone = std::u16string(u"a") + char16_t(0xD800) + u"b" + char16_t(0xDC00) +
                                char16_t(0xDFFF) + u"z" + char16_t(0xDBFF);
    const std::u16string zero = std::u16string(u"before") + char16_t(0) + u"after";
    {
        velkor::PackageRecipe r = base.recipe;
        r.softwareName = lone;
        r.companyName = lone + u"%SoftwareName%";
        r.destination = u"\\Program Files\\" + lone;
        r.variables.push_back({lone, u"x" + lone});
        r.components[0].name = lone;
        for (auto &t : r.texts)
            t += lone;
        add("lone surrogates everywhere", r);
    }
    {
        velkor::PackageRecipe r = base.recipe;
        r.softwareName = zero;
        r.companyName = zero;
        r.destination = u"\\Program Files\\" + zero;
        r.variables.push_back({u"%Zero%", zero});
        r.components[0].name = zero;
        r.components[1].name = std::u16string(1, char16_t(0));
        for (auto &t : r.texts)
            t = zero + u"%Zero%" + t;
        add("embedded zeros everywhere", r);
    }
    {
        velkor::PackageRecipe r = base.recipe;
        std::u16string big;
        big.reserve(1 << 19);
        while (big.size() < (1u << 19))   // 512 Ki code units: 1 MiB of text
            big += u"%SoftwareName% %Version% <b>bold</b> ";
        big.resize(1u << 19);
        r.texts[TextWelcomeBody] = big;
        r.texts[TextAgreementBody] = big;
        r.components[1].name = big;
        add("1 MiB texts and component name", r);
    }
    {
        velkor::PackageRecipe r = base.recipe;
        r.destination = std::u16string(1 << 19, u'\\');
        add("1 MiB destination of backslashes", r);
    }
    return out;
}

HostileSample Signed(HostileSample s)
{
    s.file = pefake::Sign(s.file);
    s.name += ", signed";
    return s;
}

std::vector<HostileCase> SignedCases(const HostileSample &s, bool runnable)
{
    std::vector<HostileCase> out;
    for (const pefake::SignedCase &c : pefake::SignedCases(s.file, s.payloadEnd + 8)) {
        if (runnable && c.headers)
            continue;
        HostileCase::Expect e = c.expect == pefake::SignedCase::Loads         ? HostileCase::Installs
                                : c.expect == pefake::SignedCase::NotAPackage ? HostileCase::NotAPackage
                                                                              : HostileCase::Clean;
        out.push_back({"signed: " + c.name, c.file, e});
    }
    // Every alignment: filler before the trailer moves where the table starts.
    Bytes plain(s.file.begin(), s.file.begin() + s.payloadEnd + 8);
    for (size_t k = 0; k < 8; ++k) {
        Bytes b(plain.begin(), plain.end() - 8);
        b.insert(b.end(), k, 0xEE);
        b.insert(b.end(), plain.end() - 8, plain.end());
        out.push_back({"signed with " + std::to_string((8 - b.size() % 8) % 8) + " alignment bytes", pefake::Sign(b),
                       HostileCase::Installs});
    }
    return out;
}

Bytes RandomDamage(const Bytes &file, uint32_t from, uint32_t seed, double fraction)
{
    std::mt19937 rng(seed);
    Bytes out = file;
    size_t span = file.size() - from;
    size_t changes = std::max<size_t>(1, size_t(double(span) * fraction + 0.5));
    std::uniform_int_distribution<size_t> where(from, file.size() - 1);
    std::uniform_int_distribution<int> flip(1, 255);
    for (size_t i = 0; i < changes; ++i)
        out[where(rng)] ^= uint8_t(flip(rng));
    return out;
}

}  // namespace installtest
