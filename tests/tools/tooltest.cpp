// tooltest.cpp -- fixture helpers for the velkor tests.
#include "tooltest.h"

#include "resource.h"
#include "littleendian.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace tooltest {

static pid_t Start(const std::vector<std::string> &args, const fs::path &workDir, const fs::path &out,
                   const fs::path &err)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char *> argv;
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    // posix_spawn has no portable chdir action: change and restore around it.
    fs::path here = fs::current_path();
    fs::current_path(workDir);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    fs::current_path(here);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

Result BuildOnStub(const fs::path &sub, const std::string &manifest, const std::string &out, bool onDevice,
                   const fs::path &device, const fs::path &winBin)
{
    fs::create_directory(sub);
    std::vector<std::string> build{"build", manifest, "-o", out};
    if (onDevice)
        build.insert(build.end(), {"--stub", device.string()});
    else
        build.insert(build.end(), {"--stub", (winBin / "setup.exe").string(), "--desktop-stub"});
    return Velkor(build, sub);
}

int WaitExit(int pid)
{
    if (pid < 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

static int Spawn(const std::vector<std::string> &args, const fs::path &workDir, const fs::path &out,
                 const fs::path &err)
{
    return WaitExit(Start(args, workDir, out, err));
}

int StartVelkor(const std::vector<std::string> &args, const fs::path &workDir)
{
    std::vector<std::string> all{VELKOR_EXE};
    all.insert(all.end(), args.begin(), args.end());
    return Start(all, workDir, "/dev/null", "/dev/null");
}

std::string ReadText(const fs::path &p)
{
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

Result Velkor(const std::vector<std::string> &args, const fs::path &workDir)
{
    std::vector<std::string> all{VELKOR_EXE};
    all.insert(all.end(), args.begin(), args.end());
    return RunCapturing(all, workDir);
}

Result RunCapturing(const std::vector<std::string> &all, const fs::path &workDir)
{
    fs::path out = fs::temp_directory_path() / ("velkor-out-" + std::to_string(getpid()));
    fs::path err = fs::temp_directory_path() / ("velkor-err-" + std::to_string(getpid()));
    Result r;
    r.code = Spawn(all, workDir, out, err);
    r.out = ReadText(out);
    r.err = ReadText(err);
    fs::remove(out);
    fs::remove(err);
    return r;
}

bool CopySample(const fs::path &to)
{
    const fs::path from = VELKOR_SAMPLE_DIR;
    std::error_code ec;
    if (!fs::exists(from / "manifest.toml", ec))
        return false;
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    return !ec;
}

int RunProgram(const std::vector<std::string> &argv)
{
    fs::path sink = fs::temp_directory_path() / ("velkor-run-" + std::to_string(getpid()));
    int rc = Spawn(argv, fs::current_path(), sink, sink.string() + "e");
    fs::remove(sink);
    fs::remove(sink.string() + "e");
    return rc;
}

int RoomByTable(const velkor::FitPlace &place)
{
    const velkor::DeviceFont &font = velkor::TheDeviceFont();
    int width = place.control ? font.controlWidth.count({place.templateId, place.control})
                                    ? font.controlWidth.at({place.templateId, place.control})
                                    : font.controlWidth.at({IDD_WELCOME, place.control})
                              : font.pageWidth.at(place.templateId);
    return velkor::RoomFor(place.kind, width, font.zeroWidth);
}

void WriteText(const fs::path &p, const std::string &s) { WriteBytes(p, Bytes(s.begin(), s.end())); }

Bytes Noise(size_t n, uint32_t seed)
{
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto &c : b) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        c = uint8_t(x >> 11);
    }
    return b;
}

Bytes Prose(size_t n)
{
    static const std::string words = "pocket notes keeps short notes on the device and syncs them ";
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(words[(i * 7 + i / 61) % words.size()]);
    return b;
}

Bytes MakeCabOf(const fs::path &cab, const std::vector<std::pair<std::string, Bytes>> &members, bool mszip)
{
    fs::path folder = cab.parent_path() / (cab.filename().string() + ".in");
    fs::create_directories(folder);
    std::vector<std::string> args{"gcab", "-c", "-n"};
    if (mszip)
        args.push_back("-z");
    args.push_back(cab.string());
    for (const auto &m : members) {
        WriteBytes(folder / m.first, m.second);
        args.push_back((folder / m.first).string());
    }
    fs::remove(cab);
    EXPECT_EQ(RunProgram(args), 0) << "gcab failed for " << cab;
    fs::remove_all(folder);
    return ReadBytes(cab);
}

Bytes MakeCab(const fs::path &cab, const Bytes &content)
{
    return MakeCabOf(cab, {{"SETUP.000", SetupInfo("Tool", {"data.bin"})}, {"data.001", content}});
}

std::string Replace(std::string s, const std::string &from, const std::string &to)
{
    size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? s : s.replace(at, from.size(), to);
}

Bytes MakeLzxCab(const fs::path &cab, const std::vector<std::pair<std::string, Bytes>> &members)
{
    const size_t Frame = 32768;
    auto u16 = [](Bytes &b, uint32_t v) { b.push_back(uint8_t(v)), b.push_back(uint8_t(v >> 8)); };
    auto u32 = [&](Bytes &b, uint32_t v) { u16(b, v & 0xFFFF), u16(b, v >> 16); };
    Bytes folder;
    for (const auto &m : members)
        folder.insert(folder.end(), m.second.begin(), m.second.end());

    // The CFDATA blocks: per frame, the block header (the first frame also
    // says "no E8 translation" in its first bit) padded to 32 bits, the
    // three repeated offsets, the bytes, and a pad byte after an odd count.
    Bytes blocks;
    size_t count = 0;
    for (size_t at = 0; at < folder.size(); at += Frame, ++count) {
        uint32_t n = uint32_t(std::min(Frame, folder.size() - at));
        uint32_t bits = at == 0 ? (3u << 28) | (n << 4) : (3u << 29) | (n << 5);
        Bytes data;
        u16(data, bits >> 16);
        u16(data, bits & 0xFFFF);
        for (int r = 0; r < 3; ++r)
            u32(data, 1);
        data.insert(data.end(), folder.begin() + long(at), folder.begin() + long(at + n));
        if (n & 1)
            data.push_back(0);
        u32(blocks, 0);
        u16(blocks, uint32_t(data.size()));
        u16(blocks, n);
        blocks.insert(blocks.end(), data.begin(), data.end());
    }

    Bytes files;
    uint32_t offset = 0;
    for (const auto &m : members) {
        u32(files, uint32_t(m.second.size()));
        u32(files, offset);
        u16(files, 0);                      // folder 0
        u16(files, 0x5021), u16(files, 0), u16(files, 0x20);   // date, time, archive
        files.insert(files.end(), m.first.begin(), m.first.end());
        files.push_back(0);
        offset += uint32_t(m.second.size());
    }
    const uint32_t header = 36, folderRecord = 8;
    Bytes out{'M', 'S', 'C', 'F'};
    u32(out, 0);
    u32(out, uint32_t(header + folderRecord + files.size() + blocks.size()));
    u32(out, 0);
    u32(out, header + folderRecord);   // the file records
    u32(out, 0);
    out.push_back(3), out.push_back(1);
    u16(out, 1), u16(out, uint32_t(members.size())), u16(out, 0), u16(out, 0x1234), u16(out, 0);
    u32(out, uint32_t(header + folderRecord + files.size()));
    u16(out, uint32_t(count));
    u16(out, 0x0F03);   // LZX, window 2^15
    out.insert(out.end(), files.begin(), files.end());
    out.insert(out.end(), blocks.begin(), blocks.end());
    WriteBytes(cab, out);
    return out;
}

Bytes SetupInfo(const std::string &app, const std::vector<std::string> &targets)
{
    auto u16 = [](Bytes &b, size_t v) {
        b.push_back(uint8_t(v));
        b.push_back(uint8_t(v >> 8));
    };
    auto u32 = [&](Bytes &b, size_t v) {
        u16(b, v & 0xFFFF);
        u16(b, v >> 16);
    };
    auto text = [](Bytes &b, const std::string &s) {
        b.insert(b.end(), s.begin(), s.end());
        b.push_back(0);
    };
    const std::string provider = "Acme";
    const std::vector<std::string> strings = {"%CE1%", app};
    // The tables after the 100-byte header and the three names.
    Bytes names;
    text(names, app);
    text(names, provider);
    text(names, "");
    Bytes strs, dirs, files;
    for (size_t i = 0; i < strings.size(); ++i) {
        u16(strs, i + 1);
        u16(strs, strings[i].size() + 1);
        text(strs, strings[i]);
    }
    u16(dirs, 1);
    u16(dirs, 6);
    u16(dirs, 1), u16(dirs, 2), u16(dirs, 0);
    for (size_t i = 0; i < targets.size(); ++i) {
        u16(files, i + 1);
        u16(files, 1);
        u16(files, 0);
        u32(files, 0);
        u16(files, targets[i].size() + 1);
        text(files, targets[i]);
    }
    size_t atStrings = 100 + names.size(), atDirs = atStrings + strs.size(), atFiles = atDirs + dirs.size();
    size_t total = atFiles + files.size();
    Bytes b{'M', 'S', 'C', 'E'};
    u32(b, 0), u32(b, total), u32(b, 0), u32(b, 1), u32(b, 0);
    for (int i = 0; i < 6; ++i)
        u32(b, 0);   // no version or build limits
    u16(b, strings.size()), u16(b, 1), u16(b, targets.size()), u16(b, 0), u16(b, 0), u16(b, 0);
    u32(b, atStrings), u32(b, atDirs), u32(b, atFiles), u32(b, total), u32(b, total), u32(b, total);
    u16(b, 100), u16(b, app.size() + 1);
    u16(b, 100 + app.size() + 1), u16(b, provider.size() + 1);
    u16(b, 100 + app.size() + provider.size() + 2), u16(b, 1);
    u16(b, 0), u16(b, 0);
    for (const Bytes *part : {&names, &strs, &dirs, &files})
        b.insert(b.end(), part->begin(), part->end());
    return b;
}

Bytes MakeCabOfSize(const fs::path &cab, size_t size, uint32_t seed)
{
    size_t content = size > 200 ? size - 100 : 1;
    Bytes made;
    for (int tries = 0; tries < 6; ++tries) {
        made = MakeCab(cab, Noise(content, seed));
        if (made.size() == size)
            return made;
        content = content + size - made.size();
    }
    ADD_FAILURE() << "could not make a CAB of " << size << " bytes, got " << made.size();
    return made;
}

Bytes PeStub(uint16_t machine, uint16_t subsystem)
{
    Bytes b = Noise(4096, 99);
    b[0] = 'M';
    b[1] = 'Z';
    const uint32_t pe = 0x80, optional = pe + 24;
    SetU32(b, 0x3C, pe);
    SetU32(b, pe, 0x00004550);                     // "PE\0\0"
    b[pe + 4] = uint8_t(machine);
    b[pe + 5] = uint8_t(machine >> 8);
    b[pe + 20] = 0xE0;                              // optional header: 224 bytes
    b[pe + 21] = 0;
    b[optional] = 0x0B;                             // PE32
    b[optional + 1] = 0x01;
    b[optional + 68] = uint8_t(subsystem);
    b[optional + 69] = uint8_t(subsystem >> 8);
    return b;
}

Bytes Stub()
{
    return PeStub(0x01C2, 9);
}

uint32_t GetU32(const Bytes &b, uint64_t at)
{
    // A wrong offset throws, as vector::at does, rather than reading past the end.
    (void)b.at(at + 3);
    return ReadLittle32(&b[at]);
}

void SetU32(Bytes &b, uint64_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.at(at + i) = uint8_t(v >> (8 * i));
}

// Size of the Block at `at`, prefix included.
static uint64_t BlockSize(const Bytes &b, uint64_t at)
{
    return (b.at(at) ? 9 : 5) + uint64_t(GetU32(b, at + 1));
}

PackageMap Map(const Bytes &file)
{
    PackageMap m;
    m.headerOffset = GetU32(file, file.size() - 8);
    uint64_t p = m.headerOffset;
    p += 4 + 2 * uint64_t(GetU32(file, p));   // software name
    p += 4 + 2 * uint64_t(GetU32(file, p));   // company name
    p += BlockSize(file, p);                  // destination
    p += 3;                                   // flags
    uint32_t n = GetU32(file, p);
    p += 4;
    for (uint32_t i = 0; i < 2 * n; ++i)
        p += BlockSize(file, p);
    n = GetU32(file, p);
    p += 4;
    for (uint32_t i = 0; i < n; ++i) {
        m.componentRecords.push_back(p);
        m.payloads.push_back(GetU32(file, p + 2));
        p += 10;
        p += BlockSize(file, p);
    }
    n = GetU32(file, p);
    p += 4;
    for (uint32_t i = 0; i < n; ++i) {
        m.textBlocks.push_back(p);
        p += BlockSize(file, p);
    }
    for (uint32_t payload : m.payloads) {
        std::vector<uint64_t> chunks;
        uint64_t q = payload;
        uint32_t count = GetU32(file, q);
        q += 4;
        for (uint32_t k = 0; k < count; ++k) {
            chunks.push_back(q);
            q += BlockSize(file, q);
        }
        m.chunks.push_back(chunks);
    }
    return m;
}

Bytes WriteStubAndCab(const fs::path &dir, const Bytes &main)
{
    WriteBytes(dir / "setup.exe", Stub());
    return MakeCab(dir / "main.cab", main);
}

void WriteInputs(const fs::path &dir, const std::string &manifestFile, const std::string &manifest, const Bytes &main,
                 const Bytes &help)
{
    WriteStubAndCab(dir, main);
    if (!help.empty())
        MakeCab(dir / "help.cab", help);
    WriteText(dir / manifestFile, manifest);
}

void WriteSpoiledInputs(const fs::path &dir, const std::string &manifest, size_t proseBytes,
                        const std::function<void(const fs::path &dir)> &spoil)
{
    WriteInputs(dir, "app.toml", manifest, Prose(proseBytes));
    WriteText(dir / "eula.txt", "Terms.\n");
    if (spoil)
        spoil(dir);
}

std::vector<std::string> Listing(const fs::path &dir)
{
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void ExpectRefused(const Result &r, int code, const std::string &message)
{
    EXPECT_EQ(r.code, code) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out, "");
}

ManifestText::ManifestText(const std::string &pages, const std::string &name, const std::string &company)
    : head_("[package]\nname = \"" + name + "\"\ncompany = \"" + company + "\"\n"), pages_("pages = " + pages + "\n")
{
}

ManifestText &ManifestText::Package(const std::string &lines)
{
    head_ += lines;
    return *this;
}

ManifestText &ManifestText::Variable(const std::string &name, const std::string &value)
{
    tables_ += "\n[[variable]]\nname = \"" + name + "\"\nvalue = \"" + value + "\"\n";
    return *this;
}

ManifestText &ManifestText::Component(const std::string &name, const std::string &cab, const std::string &lines)
{
    tables_ += "\n[[component]]\nname = \"" + name + "\"\ncab = \"" + cab + "\"\n" + lines;
    return *this;
}

ManifestText &ManifestText::Texts(const std::string &lines, const std::string &language)
{
    tables_ += "\n[texts" + (language.empty() ? "" : "." + language) + "]\n" + lines;
    return *this;
}

void ToolTest::SetUp()
{
    std::string pattern = (fs::temp_directory_path() / "velkor-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
}

void ToolTest::TearDown()
{
    std::error_code ec;
    fs::remove_all(dir, ec);
}

std::u16string TextOfWidth(const velkor::DeviceFont &font, int width, bool bold)
{
    std::vector<int> from(size_t(width) + 1, -1);
    from[0] = 0;
    for (int w = 1; w <= width; ++w)
        for (char16_t c = u'a'; c <= u'z' && from[size_t(w)] < 0; ++c) {
            int cw = velkor::TableWidth(font, std::u16string(1, c), bold);
            if (cw > 0 && cw <= w && from[size_t(w - cw)] >= 0)
                from[size_t(w)] = c;
        }
    if (from[size_t(width)] < 0)
        return u"";
    std::u16string text;
    for (int w = width; w > 0;) {
        char16_t c = char16_t(from[size_t(w)]);
        text += c;
        w -= velkor::TableWidth(font, std::u16string(1, c), bold);
    }
    return text;
}

}  // namespace tooltest
