// cabdir.cpp -- a cabinet's directory and one member, read with libmspack
// (every compression a cabinet may use).  libmspack reads through CabBytes,
// so a CAB inside a package is read without being written out; the header
// is checked here first so the commonest faults get plain messages.
#include "cabdir.h"

#include "utf.h"

#include "ce000.h"
#include "codec.h"

#include <mspack.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

namespace velkor {

namespace {

const size_t HeaderSize = 36;

std::u16string FromWindows1252(const std::string &s)
{
    // 0x80..0x9F differ from Latin-1; the rest maps one to one.
    static const char16_t high[32] = {0x20AC, 0x81, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D, 0x017D, 0x8F,
                                      0x90, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D, 0x017E, 0x0178};
    std::u16string out;
    for (unsigned char c : s)
        out += (c >= 0x80 && c < 0xA0) ? high[c - 0x80] : char16_t(c);
    return out;
}

std::string Number(uint64_t n) { return std::to_string(n); }

// libmspack's file system: "cab" is the cabinet (read only), "out" the
// member being extracted, kept in memory up to a limit.  A Read that
// throws is held and thrown again once libmspack has returned.
struct Handle {
    bool input;
    uint64_t pos = 0;
};

struct System {
    mspack_system sys;
    CabBytes *cab = nullptr;
    uint64_t limit = 0;              // the stated cabinet size
    std::vector<uint8_t> *out = nullptr;
    size_t maxOut = 0;
    std::exception_ptr thrown;
};

System *Of(mspack_system *s) { return reinterpret_cast<System *>(s); }

// The System each handle belongs to; one cabinet is read at a time per
// System, and handles are only ever made by Open below.
struct OpenHandle {
    Handle h;
    System *owner;
};

mspack_file *Open(mspack_system *self, const char *name, int mode)
{
    bool input = std::strcmp(name, "cab") == 0 && mode == MSPACK_SYS_OPEN_READ;
    bool output = std::strcmp(name, "out") == 0 && mode == MSPACK_SYS_OPEN_WRITE && Of(self)->out;
    if (!input && !output)
        return nullptr;
    return reinterpret_cast<mspack_file *>(new OpenHandle{{input, 0}, Of(self)});
}

OpenHandle *H(mspack_file *f) { return reinterpret_cast<OpenHandle *>(f); }

void Close(mspack_file *f) { delete H(f); }

int Read(mspack_file *f, void *buffer, int bytes)
{
    OpenHandle *h = H(f);
    System *s = h->owner;
    if (!h->h.input || bytes < 0 || s->thrown)
        return -1;
    uint64_t left = h->h.pos < s->limit ? s->limit - h->h.pos : 0;
    size_t n = size_t(std::min<uint64_t>(uint64_t(bytes), left));
    try {
        if (n)
            s->cab->Read(h->h.pos, n, static_cast<uint8_t *>(buffer));
    } catch (...) {
        s->thrown = std::current_exception();
        return -1;
    }
    h->h.pos += n;
    return int(n);
}

int Write(mspack_file *f, void *buffer, int bytes)
{
    OpenHandle *h = H(f);
    System *s = h->owner;
    if (h->h.input || bytes < 0 || size_t(bytes) > s->maxOut - s->out->size())
        return -1;
    const uint8_t *b = static_cast<const uint8_t *>(buffer);
    s->out->insert(s->out->end(), b, b + bytes);
    return bytes;
}

int Seek(mspack_file *f, off_t offset, int mode)
{
    OpenHandle *h = H(f);
    if (!h->h.input)
        return -1;
    int64_t base = mode == MSPACK_SYS_SEEK_START ? 0
                   : mode == MSPACK_SYS_SEEK_CUR ? int64_t(h->h.pos)
                                                 : int64_t(h->owner->limit);
    int64_t to = base + int64_t(offset);
    if (to < 0 || uint64_t(to) > h->owner->limit)
        return -1;
    h->h.pos = uint64_t(to);
    return 0;
}

off_t Tell(mspack_file *f) { return off_t(H(f)->h.pos); }

void Message(mspack_file *, const char *, ...) {}
void *Alloc(mspack_system *, size_t n) { return std::malloc(n); }
void Free(void *p) { std::free(p); }
void Copy(void *from, void *to, size_t n) { std::memmove(to, from, n); }

struct Decompressor {
    System system;
    mscab_decompressor *cabd = nullptr;
    mscabd_cabinet *cabinet = nullptr;

    Decompressor(CabBytes &cab, uint64_t limit)
    {
        system.sys = {Open, Close, Read, Write, Seek, Tell, Message, Alloc, Free, Copy, nullptr};
        system.cab = &cab;
        system.limit = limit;
        cabd = mspack_create_cab_decompressor(&system.sys);
    }
    ~Decompressor()
    {
        if (cabd && cabinet)
            cabd->close(cabd, cabinet);
        if (cabd)
            mspack_destroy_cab_decompressor(cabd);
    }
    void Rethrow()
    {
        if (system.thrown)
            std::rethrow_exception(system.thrown);
    }
};

std::string ErrorText(int code)
{
    switch (code) {
    case MSPACK_ERR_READ: return "its data runs past the cabinet";
    case MSPACK_ERR_SEEK: return "an offset in it points past the cabinet";
    case MSPACK_ERR_NOMEMORY: return "there is not enough memory to read it";
    case MSPACK_ERR_SIGNATURE: return "it does not start with \"MSCF\"";
    case MSPACK_ERR_DATAFORMAT: return "its records are malformed";
    case MSPACK_ERR_CHECKSUM: return "a data block's checksum does not match";
    case MSPACK_ERR_DECRUNCH: return "damaged";
    default: return "libmspack reports error " + Number(unsigned(code));
    }
}

const char *CompressionName(int type)
{
    switch (type) {
    case CabStored: return "stored";
    case CabMszip: return "MSZIP";
    case CabQuantum: return "Quantum";
    case CabLzx: return "LZX";
    default: return "unknown";
    }
}

}  // namespace

std::vector<std::u16string> CabDirectory::MemberNames() const
{
    std::vector<std::u16string> names;
    for (const auto &m : members)
        names.push_back(m.name);
    return names;
}

std::vector<size_t> CabDirectory::SetupInfoMembers() const
{
    std::vector<size_t> infos;
    for (size_t i = 0; i < members.size(); ++i)
        if (wceload::MemberFileNumber(members[i].name) == 0)
            infos.push_back(i);
    return infos;
}

std::string ReadCabDirectory(CabBytes &cab, CabDirectory *dir)
{
    *dir = CabDirectory();
    uint64_t size = cab.size();
    if (size < HeaderSize)
        return "it is too short for a cabinet header (" + Number(size) + " bytes)";
    uint8_t h[HeaderSize];
    cab.Read(0, HeaderSize, h);
    if (std::memcmp(h, "MSCF", 4) != 0)
        return "it does not start with \"MSCF\"";
    dir->statedSize = ReadLittle32(h + 8);
    if (dir->statedSize < HeaderSize || dir->statedSize > size)
        return "its header states a cabinet of " + Number(dir->statedSize) + " bytes but the file has " + Number(size);

    Decompressor d(cab, dir->statedSize);
    if (!d.cabd)
        return "libmspack could not start";
    d.cabinet = d.cabd->open(d.cabd, "cab");
    d.Rethrow();
    if (!d.cabinet)
        return "its directory cannot be read: " + ErrorText(d.cabd->last_error(d.cabd));
    const mscabd_cabinet *c = d.cabinet;
    dir->flags = uint16_t(c->flags);

    std::vector<const mscabd_folder *> folders;
    for (const mscabd_folder *f = c->folders; f; f = f->next) {
        CabFolder cf;
        cf.compression = uint16_t(f->comp_type);
        folders.push_back(f);
        dir->folders.push_back(cf);
    }
    for (const mscabd_file *f = c->files; f; f = f->next) {
        CabMember m;
        std::string name = f->filename ? f->filename : "";
        m.name = (f->attribs & MSCAB_ATTRIB_UTF_NAME) ? Utf8ToUtf16(name) : FromWindows1252(name);
        m.size = f->length;
        m.folder = uint16_t(std::find(folders.begin(), folders.end(), f->folder) - folders.begin());
        dir->members.push_back(m);
    }
    return "";
}

std::string ReadCabMember(CabBytes &cab, const CabDirectory &dir, size_t index, size_t maxSize,
                          std::vector<uint8_t> *out)
{
    out->clear();
    const CabMember &m = dir.members.at(index);
    if (m.folder >= dir.folders.size())
        return "it continues from or into another cabinet";
    if (m.size > maxSize)
        return "it is " + Number(m.size) + " bytes, more than the " + Number(maxSize) + " read here";
    int type = dir.folders[m.folder].compression & 0x0F;
    if (type > CabLzx)
        return "its folder names an unknown compression (" + Number(type) + ")";

    // The directory again, so that libmspack's own records of it are used.
    Decompressor d(cab, dir.statedSize);
    if (!d.cabd)
        return "libmspack could not start";
    d.system.out = out;
    d.system.maxOut = maxSize;
    d.cabinet = d.cabd->open(d.cabd, "cab");
    d.Rethrow();
    if (!d.cabinet)
        return "its directory cannot be read: " + ErrorText(d.cabd->last_error(d.cabd));
    mscabd_file *f = d.cabinet->files;
    for (size_t i = 0; f && i < index; ++i)
        f = f->next;
    if (!f)
        return "it is not in the cabinet's directory";
    int rc = d.cabd->extract(d.cabd, f, "out");
    d.Rethrow();
    if (rc == MSPACK_ERR_OK && out->size() == m.size)
        return "";
    out->clear();
    if (rc == MSPACK_ERR_DECRUNCH)
        return std::string("its ") + CompressionName(type) + " data is damaged";
    if (rc == MSPACK_ERR_OK)
        return "its folder's data ends before the member does";
    if (rc == MSPACK_ERR_DATAFORMAT && dir.Spans())
        return "it continues from or into another cabinet";
    return ErrorText(rc);
}

DeviceSetupInfo ReadDeviceSetupInfo(CabBytes &cab, const CabDirectory &dir)
{
    DeviceSetupInfo d;
    d.names = dir.MemberNames();
    std::vector<size_t> infos = dir.SetupInfoMembers();
    d.count = infos.size();
    if (infos.size() != 1) {
        d.state = infos.empty() ? SetupInfoState::None : SetupInfoState::Several;
        return d;
    }
    d.member = "'" + Utf16ToUtf8(dir.members[infos[0]].name) + "'";
    std::vector<uint8_t> bytes;
    d.why = ReadCabMember(cab, dir, infos[0], wceload::CeMaxSetupInfoSize, &bytes);
    if (!d.why.empty()) {
        d.state = d.why.find("unknown compression") != std::string::npos ? SetupInfoState::Undecoded
                                                                         : SetupInfoState::Unreadable;
        return d;
    }
    if (!wceload::ParseSetupInfo(bytes.data(), bytes.size(), &d.info, &d.why)) {
        d.state = SetupInfoState::Malformed;
        return d;
    }
    d.state = wceload::PlanInstall(d.info, d.names, u"", 0, &d.plan, &d.why) ? SetupInfoState::Planned
                                                                            : SetupInfoState::Unplannable;
    return d;
}

}  // namespace velkor
