// armrun.cpp -- the PE loader, the emulated machine and its stand-ins.
#include "armrun.h"
#include "armhost.h"

#include <unicorn/unicorn.h>

#include <cxxabi.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

namespace armrun {

namespace {

// The emulated address space besides the image (at its base, 0x10000).
const uint32_t StubBase = 0x01000000;      // one 4-byte stub per import
const uint32_t StubRoom = 0x10000;
const uint32_t ExitAddress = StubBase + StubRoom - 4;  // where the entry point returns to
const uint32_t ArgsBase = 0x01800000;      // the command line
const uint32_t ArgsSize = 0x10000;
const uint32_t StackBase = 0x02000000;     // 1 MiB, growing down from its end
const uint32_t StackSize = 0x100000;
const uint32_t ViewBase = 0x10000000;      // mapped package files
const uint32_t ViewRoom = 0x30000000;
const uint32_t HeapBase = 0x40000000;      // the process heap, 768 MiB
const uint32_t HeapSize = 0x30000000;
const uint32_t Page = 0x1000;
const uint32_t ReturnFromStub = 0xE1A0F00E; // mov pc, lr

uint32_t RoundUp(uint64_t n, uint32_t to) { return uint32_t((n + to - 1) / to * to); }

uint32_t Get16(const std::vector<uint8_t> &b, size_t at) { return b[at] | b[at + 1] << 8; }
uint32_t Get32(const std::vector<uint8_t> &b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

std::string Hex(uint64_t v)
{
    char s[24];
    snprintf(s, sizeof s, "0x%08llx", (unsigned long long)v);
    return s;
}

std::string Demangle(const std::string &name)
{
    int status = 0;
    char *d = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
    if (status != 0 || !d)
        return name;
    std::string out = d;
    free(d);
    return out;
}

}  // namespace

// ---- the link map ----

bool LinkMap::Load(const std::string &path)
{
    std::ifstream in(path);
    if (!in)
        return false;
    // " .text$NAME  0xADDR  0xSIZE  OBJECT" (wrapped after a long name), and
    // "  0xADDR  SYMBOL" for each global symbol in it.
    static const std::regex section(R"(^ \.text(?:[.$](\S+))?(?:\s+0x([0-9a-fA-F]+)\s+0x[0-9a-fA-F]+\s+(\S+))?\s*$)");
    static const std::regex placed(R"(^\s+0x([0-9a-fA-F]+)\s+0x[0-9a-fA-F]+\s+(\S+)\s*$)");
    static const std::regex symbol(R"(^\s+0x([0-9a-fA-F]+)\s+([A-Za-z_.$][\w.$@]*)\s*$)");
    std::string line, pendingName;
    bool pending = false;
    std::smatch m;
    while (std::getline(in, line)) {
        if (pending && std::regex_match(line, m, placed)) {
            uint32_t at = uint32_t(std::stoul(m[1], nullptr, 16));
            if (at && !symbols_.count(at))
                symbols_[at] = {Demangle(pendingName), m[2]};
            pending = false;
            continue;
        }
        pending = false;
        if (std::regex_match(line, m, section)) {
            std::string name = m[1].matched ? m[1].str() : ".text";
            if (m[2].matched) {
                uint32_t at = uint32_t(std::stoul(m[2], nullptr, 16));
                if (at && !symbols_.count(at))
                    symbols_[at] = {Demangle(name), m[3]};
            } else {
                pendingName = name;
                pending = true;
            }
        } else if (std::regex_match(line, m, symbol)) {
            uint32_t at = uint32_t(std::stoul(m[1], nullptr, 16));
            std::string object = symbols_.count(at) ? symbols_[at].object : "";
            symbols_[at] = {Demangle(m[2]), object};   // a symbol's own name beats its section's
        }
    }
    return !symbols_.empty();
}

std::string LinkMap::Name(uint32_t address) const
{
    auto it = symbols_.upper_bound(address);
    if (it == symbols_.begin())
        return "";
    --it;
    std::string s = it->second.name;
    if (address != it->first) {
        char offset[16];
        snprintf(offset, sizeof offset, "+0x%x", address - it->first);
        s += offset;
    }
    if (!it->second.object.empty())
        s += " (" + it->second.object + ")";
    return s;
}

uint32_t LinkMap::Find(const std::string &name) const
{
    for (const auto &[at, s] : symbols_)
        if (s.name == name || s.name.compare(0, name.size() + 1, name + "(") == 0)
            return at;
    return 0;
}

// ---- the PE image ----

std::string Image::Load(const std::string &path)
{
    std::vector<uint8_t> f;
    if (!armhost::ReadWholeFile(path, f))
        return "cannot read " + path;
    if (f.size() < 0x40 || f[0] != 'M' || f[1] != 'Z')
        return path + " is no PE image";
    uint32_t pe = Get32(f, 0x3C);
    if (pe + 24 > f.size() || memcmp(&f[pe], "PE\0\0", 4) != 0)
        return path + " is no PE image";
    if (Get16(f, pe + 4) != 0x1C0)
        return path + " is not for ARM (machine " + Hex(Get16(f, pe + 4)) + ")";
    uint32_t sectionCount = Get16(f, pe + 6), optionalSize = Get16(f, pe + 20);
    uint32_t opt = pe + 24;
    if (opt + optionalSize > f.size() || optionalSize < 96 + 16 || Get16(f, opt) != 0x10B)
        return path + " has no PE32 optional header";
    if (Get16(f, opt + 68) != 9)
        return path + " is not a Windows CE GUI program (subsystem " + std::to_string(Get16(f, opt + 68)) + ")";
    entry = Get32(f, opt + 16);
    imageBase = Get32(f, opt + 28);
    imageSize = Get32(f, opt + 56);
    uint32_t headerSize = Get32(f, opt + 60);
    headers.assign(f.begin(), f.begin() + std::min<size_t>(headerSize, f.size()));
    uint32_t at = opt + optionalSize;
    for (uint32_t i = 0; i < sectionCount; ++i, at += 40) {
        if (at + 40 > f.size())
            return path + ": section table cut short";
        Section s;
        s.name.assign(reinterpret_cast<const char *>(&f[at]), strnlen(reinterpret_cast<const char *>(&f[at]), 8));
        s.size = Get32(f, at + 8);
        s.rva = Get32(f, at + 12);
        uint32_t rawSize = Get32(f, at + 16), rawAt = Get32(f, at + 20);
        s.characteristics = Get32(f, at + 36);
        if (rawAt + uint64_t(rawSize) > f.size())
            return path + ": section " + s.name + " lies past the end";
        s.data.assign(f.begin() + rawAt, f.begin() + rawAt + std::min(rawSize, std::max(s.size, rawSize)));
        if (s.size == 0)
            s.size = rawSize;
        sections.push_back(std::move(s));
    }
    // The imports, read through the sections as they will be mapped.
    auto u32 = [&](uint32_t rva) { return U32(rva); };
    auto text = [&](uint32_t rva) {
        std::string s;
        for (int c; (c = Byte(rva)) > 0 && s.size() < 256; ++rva)
            s += char(c);
        return s;
    };
    resourceDirectory = Get32(f, opt + 96 + 2 * 8);
    uint32_t importDir = Get32(f, opt + 96 + 8);
    for (uint32_t d = importDir; importDir && u32(d + 12); d += 20) {
        std::string dll = text(u32(d + 12));
        uint32_t lookup = u32(d) ? u32(d) : u32(d + 16), slot = u32(d + 16);
        for (uint32_t e; (e = u32(lookup)) != 0; lookup += 4, slot += 4)
            imports.push_back({dll, e & 0x80000000u ? "#" + std::to_string(e & 0xFFFF) : text(e + 2), slot});
    }
    return "";
}

int Image::Byte(uint32_t rva) const
{
    for (const Section &s : sections)
        if (rva >= s.rva && rva < s.rva + s.size)
            return rva - s.rva < s.data.size() ? s.data[rva - s.rva] : 0;
    return -1;
}

uint32_t Image::U32(uint32_t rva) const
{
    return uint32_t(Byte(rva) | Byte(rva + 1) << 8 | Byte(rva + 2) << 16 | uint32_t(Byte(rva + 3)) << 24);
}

bool Image::FindResource(uint32_t type, uint32_t name, uint32_t *rva, uint32_t *size) const
{
    // Three levels (type, name, language) of directories: 16 bytes, then
    // 8-byte entries (id, offset; the high bit marks a directory).
    auto entry = [&](uint32_t dir, uint32_t id, bool first) -> uint32_t {
        uint32_t named = U32(dir + 12) & 0xFFFF, ids = U32(dir + 12) >> 16;
        for (uint32_t i = 0; i < named + ids; ++i) {
            uint32_t e = dir + 16 + 8 * i;
            if (first || (i >= named && U32(e) == id))
                return U32(e + 4);
        }
        return 0;
    };
    if (!resourceDirectory)
        return false;
    uint32_t at = entry(resourceDirectory, type, false);
    if (!(at & 0x80000000u) || !((at = entry(resourceDirectory + (at & 0x7FFFFFFF), name, false)) & 0x80000000u) ||
        !(at = entry(resourceDirectory + (at & 0x7FFFFFFF), 0, true)) || (at & 0x80000000u))
        return false;
    *rva = U32(resourceDirectory + at);
    *size = U32(resourceDirectory + at + 4);
    return true;
}

// ---- the machine ----

using StandIn = void (*)(Machine &);
namespace {
const std::map<std::string, StandIn> &StandIns();
}

// One emulated machine with the image loaded, run any number of times: the
// code translated in one run serves the next, and each run starts from the
// image's own data, an empty heap and a clear stack.
class Machine {
public:
    // precise: follow every instruction, so that a faulting access names its
    // own instruction (without it unicorn only knows the start of the block).
    Machine(const Image &image, const LinkMap &map, const std::string &countFunction, bool precise)
        : image_(image), map_(map), countFunction_(countFunction), precise_(precise)
    {
    }
    ~Machine()
    {
        if (watchdog_.joinable()) {
            {
                std::lock_guard<std::mutex> lock(watch_);
                closing_ = true;
            }
            wake_.notify_all();
            watchdog_.join();
        }
        if (uc_)
            uc_close(uc_);
    }
    // Empty, or why the machine cannot be made.
    std::string Build();
    Result Run(const Options &options);

    // ---- for the stand-ins ----
    uint32_t Arg(int i)
    {
        if (i < 4)
            return Reg(UC_ARM_REG_R0 + i);
        return Read32(Reg(UC_ARM_REG_SP) + 4 * (i - 4));
    }
    void Return(uint32_t value) { SetReg(UC_ARM_REG_R0, value); }
    uint32_t Reg(int reg)
    {
        uint32_t v = 0;
        uc_reg_read(uc_, reg, &v);
        return v;
    }
    void SetReg(int reg, uint32_t v) { uc_reg_write(uc_, reg, &v); }
    bool ReadBytes(uint32_t at, void *out, size_t n) { return n == 0 || uc_mem_read(uc_, at, out, n) == UC_ERR_OK; }
    bool WriteBytes(uint32_t at, const void *in, size_t n)
    {
        Touched(at, n);
        return n == 0 || uc_mem_write(uc_, at, in, n) == UC_ERR_OK;
    }
    // What of the heap and the stack a run wrote; the next run clears it.
    void Touched(uint64_t at, uint64_t n)
    {
        if (at >= HeapBase && at < uint64_t(HeapBase) + HeapSize)
            heapDirty_ = uint32_t(std::max<uint64_t>(heapDirty_, std::min<uint64_t>(at + n, HeapBase + HeapSize)));
        else if (at >= StackBase && at < StackBase + StackSize)
            stackDirty_ = std::min(stackDirty_, uint32_t(at));
    }
    uint32_t Read32(uint32_t at)
    {
        uint8_t b[4] = {};
        if (!ReadBytes(at, b, 4))
            Fail("the stand-in of " + calling_ + " read unmapped memory at " + Hex(at));
        return b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24;
    }
    void Write32(uint32_t at, uint32_t v)
    {
        uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        if (at && !WriteBytes(at, b, 4))
            Fail("the stand-in of " + calling_ + " wrote unmapped memory at " + Hex(at));
    }
    std::u16string ReadWide(uint32_t at)
    {
        std::u16string s;
        for (char16_t c;; at += 2) {
            uint8_t b[2];
            if (!ReadBytes(at, b, 2)) {
                Fail("the stand-in of " + calling_ + " met unmapped memory in a string at " + Hex(at));
                break;
            }
            if ((c = char16_t(b[0] | b[1] << 8)) == 0)
                break;
            s += c;
        }
        return s;
    }
    // Ends the run: the first failure is the one reported.
    void Fail(const std::string &what)
    {
        if (result_.failure.empty())
            result_.failure = what;
        uc_emu_stop(uc_);
    }
    std::string Where(uint32_t pc) const
    {
        std::string name = map_.Name(pc);
        return Hex(pc) + (name.empty() ? "" : " in " + name);
    }
    std::string Caller() { return Where(Reg(UC_ARM_REG_LR)); }

    // The process heap: blocks 8-aligned; metadata kept here, not in the
    // emulated memory, so nothing the program writes can corrupt it.
    uint32_t Alloc(uint32_t size, bool zero)
    {
        uint32_t need = std::max<uint32_t>(8, RoundUp(size, 8));
        uint32_t at = 0;
        auto it = free_.lower_bound(need);
        if (it != free_.end()) {
            at = it->second;
            uint32_t have = it->first;
            free_.erase(it);
            if (have - need >= 16)
                free_.emplace(have - need, at + need);
            else
                need = have;
        } else {
            if (size > HeapSize || heapTop_ + need > HeapBase + HeapSize)
                return 0;
            at = heapTop_;
            heapTop_ += need;
        }
        live_[at] = need;
        if (zero) {
            std::vector<uint8_t> zeros(need, 0);
            WriteBytes(at, zeros.data(), need);
        }
        return at;
    }
    bool Free(uint32_t at)
    {
        auto it = live_.find(at);
        if (it == live_.end())
            return false;
        free_.emplace(it->second, at);
        live_.erase(it);
        return true;
    }
    uint32_t Resize(uint32_t at, uint32_t size)
    {
        auto it = live_.find(at);
        if (it == live_.end()) {
            Fail("HeapReAlloc of " + Hex(at) + ", no block of the heap, called from " + Caller());
            return 0;
        }
        uint32_t have = it->second, need = std::max<uint32_t>(8, RoundUp(size, 8));
        if (need <= have) {
            if (have - need >= 16) {
                it->second = need;
                free_.emplace(have - need, at + need);
            }
            return at;
        }
        uint32_t to = Alloc(size, false);
        if (!to)
            return 0;
        std::vector<uint8_t> bytes(have);
        ReadBytes(at, bytes.data(), have);
        WriteBytes(to, bytes.data(), have);
        Free(at);
        return to;
    }
    bool IsBlock(uint32_t at) const { return live_.count(at) != 0; }

    // Handles: files read whole, their mappings, and files written.
    struct Handle {
        enum Kind { ReadFile, Mapping, WriteFile } kind = ReadFile;
        std::string path;
        std::shared_ptr<std::vector<uint8_t>> bytes;
        uint32_t position = 0;
        std::unique_ptr<armhost::WrittenFile> written;
    };
    uint32_t NewHandle(Handle h)
    {
        uint32_t id = nextHandle_;
        nextHandle_ += 4;
        handles_[id] = std::move(h);
        return id;
    }
    Handle *FindHandle(uint32_t id)
    {
        auto it = handles_.find(id);
        return it == handles_.end() ? nullptr : &it->second;
    }
    void CloseHandle(uint32_t id)
    {
        auto it = handles_.find(id);
        if (it->second.written)
            Print(it->second.written->Closed());
        handles_.erase(it);
    }
    uint32_t MapView(const std::vector<uint8_t> &bytes)
    {
        uint32_t size = RoundUp(std::max<size_t>(bytes.size(), 1), Page);
        if (viewTop_ + uint64_t(size) > ViewBase + ViewRoom)
            return 0;
        uint32_t at = viewTop_;
        viewTop_ += size + Page;   // a guard page between views
        uc_mem_map(uc_, at, size, UC_PROT_READ | UC_PROT_WRITE);
        WriteBytes(at, bytes.data(), bytes.size());
        uc_mem_protect(uc_, at, size, UC_PROT_READ);
        views_[at] = size;
        return at;
    }
    bool UnmapView(uint32_t at)
    {
        auto it = views_.find(at);
        if (it == views_.end())
            return false;
        uc_mem_unmap(uc_, at, it->second);
        views_.erase(it);
        return true;
    }

    void Print(const std::string &line)
    {
        if (options_->print)
            options_->print(line);
    }
    // OutputDebugStringW: whole lines are printed as they complete.
    void Debug(const std::u16string &text)
    {
        for (char16_t c : text) {
            if (c == u'\n') {
                Print(debugLine_);
                debugLine_.clear();
            } else if (c != u'\r') {
                debugLine_ += c < 0x80 ? char(c) : '?';
            }
        }
    }
    void Exit(uint32_t code)
    {
        result_.exitCode = code;
        exited_ = true;
        uc_emu_stop(uc_);
    }
    // The first window: the run ends here, with what it had open.
    void Window(const std::string &what)
    {
        result_.window = what;
        Print("window: " + what);
        Exit(0);
    }
    const Options &Run() const { return *options_; }
    const Image &Program() const { return image_; }
    void Wrote(uint64_t n)
    {
        result_.bytesWritten += n;
        if (inside_)
            result_.bytesWrittenCounted += n;
    }
    void Moved(uint64_t n)
    {
        result_.standInBytes += n;
        if (inside_)
            result_.standInBytesCounted += n;
    }

private:
    static void OnAccess(uc_engine *, uc_mem_type type, uint64_t address, int size, int64_t, void *user);
    static bool OnInvalid(uc_engine *, uc_mem_type type, uint64_t address, int size, int64_t, void *user);
    static void OnStub(uc_engine *, uint64_t address, uint32_t, void *user);
    static void OnCount(uc_engine *, uint64_t address, uint32_t, void *user);
    static void OnInstruction(uc_engine *, uint64_t address, uint32_t, void *user);
    void Reset(const Options &options);
    // Stops a run that is still going at its deadline.
    void Watch()
    {
        std::unique_lock<std::mutex> lock(watch_);
        while (!closing_) {
            if (running_ && std::chrono::steady_clock::now() >= deadline_) {
                timedOut_ = true;
                uc_emu_stop(uc_);
                running_ = false;
            }
            if (running_)
                wake_.wait_until(lock, deadline_);
            else
                wake_.wait(lock);
        }
    }
    uint32_t Pc() { return precise_ ? lastPc_ : Reg(UC_ARM_REG_PC); }

    const Image &image_;
    const LinkMap &map_;
    const std::string countFunction_;
    const Options *options_ = nullptr;
    uc_engine *uc_ = nullptr;
    Result result_;
    std::vector<StandIn> stubs_;
    std::vector<std::string> stubNames_;
    std::string calling_;
    std::map<uint32_t, uint32_t> live_;
    std::multimap<uint32_t, uint32_t> free_;   // size -> address
    uint32_t heapTop_ = HeapBase, heapDirty_ = HeapBase, stackDirty_ = StackBase + StackSize;
    std::map<uint32_t, Handle> handles_;
    uint32_t nextHandle_ = 0x100;
    std::map<uint32_t, uint32_t> views_;
    uint32_t viewTop_ = ViewBase;
    std::string debugLine_;
    bool exited_ = false;
    uint32_t countAt_ = 0, countReturn_ = 0;
    bool inside_ = false;
    const bool precise_;
    std::thread watchdog_;
    std::mutex watch_;
    std::condition_variable wake_;
    std::chrono::steady_clock::time_point deadline_;
    bool running_ = false, closing_ = false, timedOut_ = false;
    uint32_t lastPc_ = 0;
};

void Machine::OnAccess(uc_engine *uc, uc_mem_type type, uint64_t address, int size, int64_t, void *user)
{
    Machine &m = *static_cast<Machine *>(user);
    ++m.result_.accessesChecked;
    if (type == UC_MEM_WRITE)
        m.Touched(address, uint64_t(size));
    if (size == 2)
        ++m.result_.halfwordAccesses;
    else if (size >= 4)
        ++m.result_.wordAccesses;
    if (size > 1 && address % uint64_t(size) != 0) {
        uint32_t pc = m.Pc();
        m.result_.accessFault = true;
        m.Fail(std::string("unaligned ") + (size == 2 ? "halfword " : size == 4 ? "word " : "doubleword ") +
               (type == UC_MEM_WRITE ? "write to " : "read of ") + Hex(address) + " at " + m.Where(pc));
    }
}

bool Machine::OnInvalid(uc_engine *uc, uc_mem_type type, uint64_t address, int size, int64_t, void *user)
{
    Machine &m = *static_cast<Machine *>(user);
    const char *what = type == UC_MEM_WRITE_PROT      ? "write to read-only memory"
                       : type == UC_MEM_FETCH_PROT    ? "code fetch from non-executable memory"
                       : type == UC_MEM_FETCH_UNMAPPED ? "code fetch from unmapped memory"
                       : type == UC_MEM_WRITE_UNMAPPED ? "write to unmapped memory"
                                                       : "read of unmapped memory";
    uint32_t pc = m.Pc();
    m.result_.accessFault = true;
    m.Fail(std::string(what) + " at " + Hex(address) + " (" + std::to_string(size) + " bytes) by " + m.Where(pc) +
           ", called from " + m.Caller());
    return false;
}

void Machine::OnStub(uc_engine *uc, uint64_t address, uint32_t, void *user)
{
    Machine &m = *static_cast<Machine *>(user);
    if (address == ExitAddress) {
        m.Exit(m.Reg(UC_ARM_REG_R0));
        return;
    }
    size_t i = size_t(address - StubBase) / 4;
    if (i >= m.stubs_.size())
        return;
    m.calling_ = m.stubNames_[i];
    ++m.result_.calls[m.calling_];
    if (!m.stubs_[i]) {
        m.Fail("call of " + m.calling_ + ", which has no stand-in, from " + m.Caller());
        return;
    }
    m.stubs_[i](m);
}

void Machine::OnCount(uc_engine *uc, uint64_t address, uint32_t, void *user)
{
    Machine &m = *static_cast<Machine *>(user);
    if (!m.inside_ && address == m.countAt_) {
        m.inside_ = true;
        m.countReturn_ = m.Reg(UC_ARM_REG_LR);
        ++m.result_.countedCalls;
    } else if (m.inside_ && address == m.countReturn_) {
        m.inside_ = false;
    }
    if (m.inside_)
        ++m.result_.counted;
}

void Machine::OnInstruction(uc_engine *, uint64_t address, uint32_t, void *user)
{
    static_cast<Machine *>(user)->lastPc_ = uint32_t(address);
}

std::string Machine::Build()
{
    if (uc_open(UC_ARCH_ARM, UC_MODE_ARM, &uc_) != UC_ERR_OK)
        return "unicorn cannot make an ARM machine";
    // An XScale PXA270, the processor of many Windows CE 5 Pocket PCs
    // (ARMv5TE); the program is built for ARMv4, which it runs too.
    uc_ctl_set_cpu_model(uc_, UC_CPU_ARM_PXA270);

    // The image: headers read-only, each section with its own protection
    // (Reset writes the sections).
    uint32_t base = image_.imageBase, size = RoundUp(image_.imageSize, Page);
    if (uc_mem_map(uc_, base, size, UC_PROT_ALL) != UC_ERR_OK)
        return "cannot map the image at " + Hex(base);
    WriteBytes(base, image_.headers.data(), image_.headers.size());
    for (const Image::Section &s : image_.sections)
        WriteBytes(base + s.rva, s.data.data(), std::min<size_t>(s.data.size(), s.size));
    // Imports: each slot of the address table points at a stub that
    // returns at once; the code hook on the stubs answers the call first.
    const auto &table = StandIns();
    uc_mem_map(uc_, StubBase, StubRoom, UC_PROT_READ | UC_PROT_EXEC);
    for (const Image::Import &imp : image_.imports) {
        uint32_t stub = StubBase + 4 * uint32_t(stubs_.size());
        std::string name = imp.dll + "!" + imp.name;
        auto it = table.find(imp.name);
        stubs_.push_back(it == table.end() ? nullptr : it->second);
        stubNames_.push_back(name);
        Write32(base + imp.slot, stub);
    }
    std::vector<uint32_t> stubs(StubRoom / 4, ReturnFromStub);
    WriteBytes(StubBase, stubs.data(), StubRoom);
    for (const Image::Section &s : image_.sections) {
        uint32_t prot = UC_PROT_READ;
        if (s.characteristics & 0x20000000)
            prot |= UC_PROT_EXEC;
        if (s.characteristics & 0x80000000)
            prot |= UC_PROT_WRITE;
        uc_mem_protect(uc_, base + s.rva, RoundUp(s.size, Page), prot);
    }
    uc_mem_protect(uc_, base, RoundUp(image_.headers.size(), Page), UC_PROT_READ);
    uc_mem_map(uc_, StackBase, StackSize, UC_PROT_READ | UC_PROT_WRITE);
    uc_mem_map(uc_, HeapBase, HeapSize, UC_PROT_READ | UC_PROT_WRITE);
    uc_mem_map(uc_, ArgsBase, ArgsSize, UC_PROT_READ | UC_PROT_WRITE);

    uc_hook hook;
    uc_hook_add(uc_, &hook, UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE, reinterpret_cast<void *>(OnAccess), this, 1, 0);
    uc_hook_add(uc_, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void *>(OnInvalid), this, 1, 0);
    uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void *>(OnStub), this, StubBase, StubBase + StubRoom - 1);
    if (precise_)
        uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void *>(OnInstruction), this, base, base + size - 1);
    if (!countFunction_.empty()) {
        countAt_ = map_.Find(countFunction_);
        if (!countAt_)
            return "the link map names no " + countFunction_;
        uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void *>(OnCount), this, base, base + size - 1);
    }
    return "";
}

void Machine::Reset(const Options &options)
{
    options_ = &options;
    result_ = Result();
    calling_.clear();
    debugLine_.clear();
    exited_ = inside_ = timedOut_ = false;
    handles_.clear();
    nextHandle_ = 0x100;
    while (!views_.empty())
        UnmapView(views_.begin()->first);
    viewTop_ = ViewBase;

    // The image's writable sections as the file has them, the heap and the
    // stack zero again.
    static const std::vector<uint8_t> zeros(1 << 20, 0);
    auto clear = [&](uint32_t at, uint32_t size) {
        for (uint32_t done = 0; done < size; done += uint32_t(zeros.size()))
            WriteBytes(at + done, zeros.data(), std::min<size_t>(zeros.size(), size - done));
    };
    for (const Image::Section &s : image_.sections)
        if (s.characteristics & 0x80000000) {
            uint32_t at = image_.imageBase + s.rva, have = uint32_t(std::min<size_t>(s.data.size(), s.size));
            WriteBytes(at, s.data.data(), have);
            clear(at + have, RoundUp(s.size, Page) - have);
        }
    clear(HeapBase, heapDirty_ - HeapBase);
    heapDirty_ = HeapBase;
    live_.clear();
    free_.clear();
    heapTop_ = HeapBase;
    clear(stackDirty_, StackBase + StackSize - stackDirty_);
    stackDirty_ = StackBase + StackSize;

    std::vector<uint8_t> line;
    for (char16_t c : options.commandLine.substr(0, ArgsSize / 2 - 1)) {
        line.push_back(uint8_t(c));
        line.push_back(uint8_t(c >> 8));
    }
    line.resize(line.size() + 2, 0);
    WriteBytes(ArgsBase, line.data(), line.size());

    // WinMainCRTStartup(hInstance, hPrevInstance, lpCmdLine, nShowCmd).
    for (int r = UC_ARM_REG_R4; r <= UC_ARM_REG_R12; ++r)
        SetReg(r, 0);
    SetReg(UC_ARM_REG_R0, image_.imageBase);
    SetReg(UC_ARM_REG_R1, 0);
    SetReg(UC_ARM_REG_R2, ArgsBase);
    SetReg(UC_ARM_REG_R3, 5 /* SW_SHOW */);
    SetReg(UC_ARM_REG_SP, StackBase + StackSize - 16);
    SetReg(UC_ARM_REG_LR, ExitAddress);
}

Result Machine::Run(const Options &options)
{
    Reset(options);
    // A watchdog rather than unicorn's own timeout, which starts a thread
    // for every run.
    uc_err err;
    {
        std::unique_lock<std::mutex> lock(watch_);
        running_ = true;
        deadline_ = std::chrono::steady_clock::now() + std::chrono::microseconds(options.timeoutMicroseconds);
        if (!watchdog_.joinable())
            watchdog_ = std::thread([this] { Watch(); });
        wake_.notify_all();
    }
    err = uc_emu_start(uc_, image_.imageBase + image_.entry, 0, 0, 0);
    {
        std::lock_guard<std::mutex> lock(watch_);
        running_ = false;
    }
    if (!debugLine_.empty())
        Print(debugLine_);
    if (result_.failure.empty() && err != UC_ERR_OK)
        result_.failure = std::string("emulation stopped: ") + uc_strerror(err) + " at " + Where(Reg(UC_ARM_REG_PC));
    if (result_.failure.empty() && !exited_)
        result_.failure = (timedOut_ ? "the program did not end within " +
                                           std::to_string(options.timeoutMicroseconds / 1000) + " ms"
                                     : std::string("the program stopped without ending")) +
                          "; it was at " + Where(Reg(UC_ARM_REG_PC));
    result_.heapBlocksLeft = live_.size();
    if (result_.failure.empty() && !live_.empty() && result_.window.empty() && options.requireHeapFreed)
        result_.failure = std::to_string(live_.size()) + " heap blocks were never freed";
    result_.ok = result_.failure.empty();
    return result_;
}

// ---- the stand-ins, by import name ----

namespace {

const uint32_t ProcessHeap = 0x4EA9;
const uint32_t InvalidHandle = 0xFFFFFFFF;

void GetProcessHeap(Machine &m) { m.Return(ProcessHeap); }

void HeapAlloc(Machine &m)   // (heap, flags, bytes)
{
    if (m.Arg(0) != ProcessHeap)
        return m.Fail("HeapAlloc on heap " + Hex(m.Arg(0)) + " from " + m.Caller());
    m.Return(m.Alloc(m.Arg(2), m.Arg(1) & 8 /* HEAP_ZERO_MEMORY */));
}

void HeapReAlloc(Machine &m)   // (heap, flags, block, bytes)
{
    m.Return(m.Resize(m.Arg(2), m.Arg(3)));
}

void HeapFree(Machine &m)   // (heap, flags, block)
{
    if (!m.Free(m.Arg(2)))
        return m.Fail("HeapFree of " + Hex(m.Arg(2)) + ", no block of the heap, from " + m.Caller());
    m.Return(1);
}

// (path, access, share, security, disposition, flags, template): the host
// file of that name, read whole.
void CreateFileForMappingW(Machine &m)
{
    std::string path = armhost::Narrow(m.ReadWide(m.Arg(0)).c_str());
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    if (!armhost::ReadWholeFile(path, *bytes))
        return m.Return(InvalidHandle);
    Machine::Handle h;
    h.path = path;
    h.bytes = bytes;
    m.Return(m.NewHandle(std::move(h)));
}

void GetFileSize(Machine &m)   // (file, high*)
{
    Machine::Handle *h = m.FindHandle(m.Arg(0));
    if (!h || !h->bytes)
        return m.Return(InvalidHandle);
    m.Write32(m.Arg(1), 0);
    m.Return(uint32_t(h->bytes->size()));
}

void CreateFileMappingW(Machine &m)   // (file, security, protect, size high, size low, name)
{
    Machine::Handle *h = m.FindHandle(m.Arg(0));
    if (!h || !h->bytes)
        return m.Return(0);
    Machine::Handle mapping;
    mapping.kind = Machine::Handle::Mapping;
    mapping.bytes = h->bytes;
    m.Return(m.NewHandle(std::move(mapping)));
}

void MapViewOfFile(Machine &m)   // (mapping, access, offset high, offset low, bytes): read-only
{
    Machine::Handle *h = m.FindHandle(m.Arg(0));
    if (!h || h->kind != Machine::Handle::Mapping || m.Arg(2) || m.Arg(3) || m.Arg(4))
        return m.Return(0);
    m.Return(m.MapView(*h->bytes));
}

void UnmapViewOfFile(Machine &m)
{
    if (!m.UnmapView(m.Arg(0)))
        return m.Fail("UnmapViewOfFile of " + Hex(m.Arg(0)) + ", no view, from " + m.Caller());
    m.Return(1);
}

// (path, access, share, security, disposition, flags, template): files the
// program writes keep only their length and digest.
void CreateFileW(Machine &m)
{
    std::string path = armhost::Narrow(m.ReadWide(m.Arg(0)).c_str());
    Machine::Handle h;
    h.path = path;
    if (m.Arg(1) & 0x40000000 /* GENERIC_WRITE */) {
        h.kind = Machine::Handle::WriteFile;
        h.written = std::make_unique<armhost::WrittenFile>(path);
    } else {
        h.bytes = std::make_shared<std::vector<uint8_t>>();
        if (!armhost::ReadWholeFile(path, *h.bytes))
            return m.Return(InvalidHandle);
    }
    m.Return(m.NewHandle(std::move(h)));
}

void WriteFile(Machine &m)   // (file, buffer, bytes, written*, overlapped)
{
    Machine::Handle *h = m.FindHandle(m.Arg(0));
    if (!h || h->kind != Machine::Handle::WriteFile)
        return m.Return(0);
    std::vector<uint8_t> data(m.Arg(2));
    if (!m.ReadBytes(m.Arg(1), data.data(), data.size()))
        return m.Fail("WriteFile from unmapped memory at " + Hex(m.Arg(1)) + ", called from " + m.Caller());
    h->written->Write(data.data(), data.size());
    m.Wrote(data.size());
    m.Write32(m.Arg(3), uint32_t(data.size()));
    m.Return(1);
}

void CloseHandle(Machine &m)
{
    if (!m.FindHandle(m.Arg(0)))
        return m.Return(0);
    m.CloseHandle(m.Arg(0));
    m.Return(1);
}

void OutputDebugStringW(Machine &m) { m.Debug(m.ReadWide(m.Arg(0))); }

void TerminateProcess(Machine &m) { m.Exit(m.Arg(1)); }

// The C library of coredll, done here; their bytes are counted apart.
void Memcpy(Machine &m)   // memcpy and memmove: (to, from, bytes)
{
    std::vector<uint8_t> data(m.Arg(2));
    if (!m.ReadBytes(m.Arg(1), data.data(), data.size()) || !m.WriteBytes(m.Arg(0), data.data(), data.size()))
        return m.Fail(m.Caller() + " copied " + std::to_string(data.size()) + " bytes from " + Hex(m.Arg(1)) +
                      " to " + Hex(m.Arg(0)) + ", not both mapped");
    m.Moved(data.size());
    m.Return(m.Arg(0));
}

void Memset(Machine &m)   // (to, value, bytes)
{
    std::vector<uint8_t> data(m.Arg(2), uint8_t(m.Arg(1)));
    if (!m.WriteBytes(m.Arg(0), data.data(), data.size()))
        return m.Fail(m.Caller() + " set " + std::to_string(data.size()) + " bytes at unmapped " + Hex(m.Arg(0)));
    m.Moved(data.size());
    m.Return(m.Arg(0));
}

void Memcmp(Machine &m)   // (a, b, bytes)
{
    std::vector<uint8_t> a(m.Arg(2)), b(m.Arg(2));
    if (!m.ReadBytes(m.Arg(0), a.data(), a.size()) || !m.ReadBytes(m.Arg(1), b.data(), b.size()))
        return m.Fail(m.Caller() + " compared unmapped memory");
    int r = memcmp(a.data(), b.data(), a.size());
    m.Return(uint32_t(r < 0 ? -1 : r > 0 ? 1 : 0));
}

// ---- the setup program's start, up to its first window ----

void GetModuleFileNameW(Machine &m)   // (module, buffer, units)
{
    const std::u16string &path = m.Run().modulePath;
    uint32_t units = m.Arg(2);
    if (path.empty() || units == 0)
        return m.Return(0);
    std::u16string s = path.substr(0, units - 1);
    std::vector<uint8_t> bytes;
    for (char16_t c : s + u'\0') {
        bytes.push_back(uint8_t(c));
        bytes.push_back(uint8_t(c >> 8));
    }
    m.WriteBytes(m.Arg(1), bytes.data(), bytes.size());
    m.Return(uint32_t(s.size()));
}

void ReadFile(Machine &m)   // (file, buffer, bytes, read*, overlapped)
{
    Machine::Handle *h = m.FindHandle(m.Arg(0));
    if (!h || !h->bytes)
        return m.Return(0);
    uint32_t at = std::min<uint32_t>(h->position, uint32_t(h->bytes->size()));
    uint32_t n = std::min<uint32_t>(m.Arg(2), uint32_t(h->bytes->size()) - at);
    if (!m.WriteBytes(m.Arg(1), h->bytes->data() + at, n))
        return m.Fail("ReadFile into unmapped memory at " + Hex(m.Arg(1)) + ", called from " + m.Caller());
    h->position = at + n;
    m.Write32(m.Arg(3), n);
    m.Return(1);
}

void SetFilePointer(Machine &m)   // (file, low, high*, method)
{
    Machine::Handle *h = m.FindHandle(m.Arg(0));
    if (!h || !h->bytes || m.Arg(3) != 0 /* FILE_BEGIN */)
        return m.Fail("SetFilePointer other than from the start of a file read, from " + m.Caller());
    if (m.Arg(2))
        m.Write32(m.Arg(2), 0);
    h->position = m.Arg(1);
    m.Return(m.Arg(1));
}

void MessageBoxW(Machine &m)   // (owner, text, caption, type): told, and answered OK
{
    std::string text = armhost::Narrow(m.ReadWide(m.Arg(1)).c_str());
    std::string caption = armhost::Narrow(m.ReadWide(m.Arg(2)).c_str());
    m.Print("MessageBoxW \"" + caption + "\": " + text);
    m.Return(1 /* IDOK */);
}

void FindResourceW(Machine &m)   // (module, name, type): numeric ones only
{
    uint32_t rva, size;
    if (m.Arg(1) > 0xFFFF || m.Arg(2) > 0xFFFF || !m.Program().FindResource(m.Arg(2), m.Arg(1), &rva, &size))
        return m.Return(0);
    m.Return(m.Program().imageBase + rva);   // LoadResource and LockResource hand it on
}

void LoadResource(Machine &m) { m.Return(m.Arg(1)); }

void CreateDialogIndirectParamW(Machine &m)   // (instance, template, owner, procedure, parameter)
{
    uint32_t at = m.Arg(1);
    m.Window("CreateDialogIndirectParamW, template at " + Hex(at) + " (style " + Hex(m.Read32(at)) + "), called from " +
             m.Caller());
}

void CreateWindowExW(Machine &m)   // (extended style, class, title, ...)
{
    std::string cls = m.Arg(1) > 0xFFFF ? armhost::Narrow(m.ReadWide(m.Arg(1)).c_str()) : "#" + std::to_string(m.Arg(1));
    m.Window("CreateWindowExW of class " + cls + ", called from " + m.Caller());
}

void Handle(Machine &m) { m.Return(0x5000); }   // cursors, icons: a handle nothing looks into
void Yes(Machine &m) { m.Return(1); }
void SysColor(Machine &m) { m.Return(0xC0C0C0); }

// The C runtime's start-up and exit (crt3.o): nothing to do here.
void Nothing(Machine &m) { m.Return(0); }

void Malloc(Machine &m) { m.Return(m.Alloc(m.Arg(0), false)); }

void Free(Machine &m)
{
    if (m.Arg(0) && !m.Free(m.Arg(0)))
        return m.Fail("free of " + Hex(m.Arg(0)) + ", no block of the heap, from " + m.Caller());
}

void Realloc(Machine &m) { m.Return(m.Arg(0) ? m.Resize(m.Arg(0), m.Arg(1)) : m.Alloc(m.Arg(1), false)); }

const std::map<std::string, StandIn> &StandIns()
{
    static const std::map<std::string, StandIn> table = {
        {"GetProcessHeap", GetProcessHeap},
        {"HeapAlloc", HeapAlloc},
        {"HeapReAlloc", HeapReAlloc},
        {"HeapFree", HeapFree},
        {"CreateFileForMappingW", CreateFileForMappingW},
        {"GetFileSize", GetFileSize},
        {"CreateFileMappingW", CreateFileMappingW},
        {"MapViewOfFile", MapViewOfFile},
        {"UnmapViewOfFile", UnmapViewOfFile},
        {"CreateFileW", CreateFileW},
        {"WriteFile", WriteFile},
        {"CloseHandle", CloseHandle},
        {"OutputDebugStringW", OutputDebugStringW},
        {"TerminateProcess", TerminateProcess},
        {"memcpy", Memcpy},
        {"memmove", Memcpy},
        {"memset", Memset},
        {"memcmp", Memcmp},
        {"_fpreset", Nothing},
        {"_fcloseall", Nothing},
        {"fflush", Nothing},
        {"malloc", Malloc},
        {"free", Free},
        {"realloc", Realloc},
        // The setup program's start-up, to its first window.
        {"GetModuleFileNameW", GetModuleFileNameW},
        {"ReadFile", ReadFile},
        {"SetFilePointer", SetFilePointer},
        {"GetLastError", Nothing},
        {"MessageBoxW", MessageBoxW},
        {"LoadCursorW", Handle},
        {"LoadIconW", Handle},
        {"SetCursor", Nothing},
        {"GetSysColor", SysColor},
        {"InitHTMLControl", Yes},
        {"InitCommonControlsEx", Yes},
        {"FindResourceW", FindResourceW},
        {"LoadResource", LoadResource},
        {"CreateDialogIndirectParamW", CreateDialogIndirectParamW},
        {"CreateWindowExW", CreateWindowExW},
    };
    return table;
}

}  // namespace

Runner::Runner(const Image &image, const LinkMap &map, std::string countFunction)
    : image_(image), map_(map), countFunction_(std::move(countFunction))
{
}

Runner::~Runner() = default;

Result Runner::Run(const Options &options)
{
    if (!machine_) {
        machine_ = std::make_unique<Machine>(image_, map_, countFunction_, false);
        std::string problem = machine_->Build();
        if (!problem.empty()) {
            machine_.reset();
            Result r;
            r.failure = problem;
            return r;
        }
    }
    Result result = machine_->Run(options);
    if (!result.ok)
        machine_.reset();   // the next run starts on a new machine
    if (result.accessFault) {
        // The same run again on a machine that follows every instruction,
        // quietly, for the address of the faulting instruction itself.
        Options quiet = options;
        quiet.print = nullptr;
        Machine precise(image_, map_, "", true);
        if (precise.Build().empty()) {
            Result again = precise.Run(quiet);
            if (again.accessFault)
                result.failure = again.failure;
        }
    }
    return result;
}

}  // namespace armrun
