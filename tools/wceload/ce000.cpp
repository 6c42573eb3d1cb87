/*
 * ce000.cpp -- reads the setup-information file of a device CAB and turns it
 * into an installation plan.  Every length is checked against what is left
 * of the file before it is used; nothing here writes anywhere.
 */
#include "ce000.h"

#include "littleendian.h"

#include <algorithm>
#include <set>

namespace wceload {

namespace {

// Bounds-checked little-endian reader over [0, size).
class Reader {
public:
    Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool Seek(size_t offset)
    {
        if (offset > size_)
            return false;
        pos_ = offset;
        return true;
    }
    bool U16(uint16_t *v)
    {
        if (2 > size_ - pos_)
            return false;
        *v = ReadLittle16(data_ + pos_);
        pos_ += 2;
        return true;
    }
    bool U32(uint32_t *v)
    {
        if (4 > size_ - pos_)
            return false;
        *v = ReadLittle32(data_ + pos_);
        pos_ += 4;
        return true;
    }
    bool Bytes(size_t n, std::vector<uint8_t> *out)
    {
        if (n > size_ - pos_)
            return false;
        out->assign(data_ + pos_, data_ + pos_ + n);
        pos_ += n;
        return true;
    }
    // A string stored in n bytes: up to the first zero within them (the rest
    // is padding).
    bool Text(size_t n, std::string *out)
    {
        if (n > size_ - pos_)
            return false;
        const char *p = reinterpret_cast<const char *>(data_ + pos_);
        size_t len = 0;
        while (len < n && p[len])
            ++len;
        out->assign(p, len);
        pos_ += n;
        return true;
    }
    bool IdList(size_t byteLength, std::vector<uint16_t> *out)
    {
        if (byteLength % 2 != 0 || byteLength > size_ - pos_)
            return false;
        out->clear();
        for (size_t i = 0; i < byteLength / 2; ++i) {
            uint16_t id;
            U16(&id);
            out->push_back(id);
        }
        return true;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

bool Fail(std::string *error, const std::string &text)
{
    *error = text;
    return false;
}

// A list of string ids that must end in exactly one 0.
bool TerminatedList(const std::vector<uint16_t> &ids)
{
    if (ids.empty() || ids.back() != 0)
        return false;
    for (size_t i = 0; i + 1 < ids.size(); ++i)
        if (ids[i] == 0)
            return false;
    return true;
}

Str JoinPath(const Str &folder, const Str &relative)
{
    if (relative.empty())
        return folder;
    if (folder == u"\\")
        return folder + relative;
    return folder + u"\\" + relative;
}

bool FitsPath(const Str &devicePath, size_t rootLength)
{
    return rootLength <= MaxPathUnits && devicePath.size() <= MaxPathUnits - rootLength;
}

// Replaces every case-insensitive occurrence of %InstallDir% and %CEn%.
bool Substitute(const Str &text, const Str &installFolder, Str *out, std::string *error)
{
    out->clear();
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == u'%') {
            size_t close = text.find(u'%', i + 1);
            if (close != Str::npos) {
                Str name = text.substr(i + 1, close - i - 1);
                if (SameName(name, u"InstallDir")) {
                    *out += installFolder;
                    i = close + 1;
                    continue;
                }
                if (name.size() > 2 && SameName(name.substr(0, 2), u"CE")) {
                    unsigned n = 0;
                    bool digits = name.size() <= 5;
                    for (size_t k = 2; k < name.size() && digits; ++k) {
                        if (name[k] < u'0' || name[k] > u'9')
                            digits = false;
                        else
                            n = n * 10 + (name[k] - u'0');
                    }
                    if (digits) {
                        const char16_t *folder = MacroFolder(n);
                        if (!folder) {
                            *error = "undefined folder macro %CE" + std::to_string(n) + "% in a registry value";
                            return false;
                        }
                        *out += folder;
                        i = close + 1;
                        continue;
                    }
                }
            }
        }
        out->push_back(text[i++]);
    }
    return true;
}

void AppendUtf16(std::vector<uint8_t> *data, const Str &text)
{
    for (char16_t c : text) {
        data->push_back(uint8_t(c & 0xFF));
        data->push_back(uint8_t(c >> 8));
    }
    data->push_back(0);
    data->push_back(0);
}

bool ValidKeyPath(const Str &key)
{
    if (key.empty() || key.front() == u'\\' || key.back() == u'\\')
        return false;
    size_t partLength = 0;
    for (size_t i = 0; i < key.size(); ++i) {
        if (key[i] < 0x20)
            return false;
        if (key[i] == u'\\') {
            if (partLength == 0)
                return false;
            partLength = 0;
        } else if (++partLength > MaxNameUnits) {
            return false;
        }
    }
    return true;
}

struct ResolvedDir {
    uint16_t Id;
    unsigned Macro;
    bool HasSubPath;    // more than the bare macro folder
    Str Path;           // device path before any move
};

} // namespace

const char16_t *MacroFolder(unsigned n)
{
    switch (n) {
    case 1: return u"\\Program Files";
    case 2: return u"\\Windows";
    case 4: return u"\\Windows\\StartUp";
    case 5: return u"\\My Documents";
    case 11: return u"\\Windows\\Start Menu\\Programs";
    case 12: return u"\\Windows\\Start Menu\\Accessories";
    case 13: return u"\\Windows\\Start Menu\\Communications";
    case 14: return u"\\Windows\\Start Menu\\Games";
    case 15: return u"\\Windows\\Fonts";
    case 17: return u"\\Windows\\Start Menu";
    default: return nullptr;
    }
}

int MemberFileNumber(const Str &memberName)
{
    if (memberName.size() < 5)
        return -1;
    size_t dot = memberName.size() - 4;
    if (memberName[dot] != u'.')
        return -1;
    int n = 0;
    for (size_t i = dot + 1; i < memberName.size(); ++i) {
        char16_t c = memberName[i];
        if (c < u'0' || c > u'9')
            return -1;
        n = n * 10 + (c - u'0');
    }
    return n;
}

Str ShortcutText(const Str &target)
{
    Str quoted = u"\"" + target + u"\"";
    std::string n = std::to_string(quoted.size());
    return FromAscii(n.c_str()) + u"#" + quoted;
}

namespace {

// ---- reading the .000: header, names, then the six tables ----

const size_t HeaderSize = 100;

// The header past the version fields: what the names and tables are.
struct SetupHeader {
    uint16_t Counts[6];
    uint32_t Offsets[6];
    uint16_t NameOffset[3], NameLength[3];
};

// The signature and the stated length, which must fit the file; every later
// read stays within that length.
bool ReadStatedLength(const uint8_t *data, size_t size, uint32_t *total, std::string *error)
{
    if (size < HeaderSize)
        return Fail(error, "setup information shorter than its header");
    if (data[0] != 'M' || data[1] != 'S' || data[2] != 'C' || data[3] != 'E')
        return Fail(error, "setup information lacks its MSCE signature");
    Reader head(data, size);
    head.Seek(8);
    head.U32(total);
    if (*total < HeaderSize || *total > size)
        return Fail(error, "stated length of the setup information does not fit the file");
    return true;
}

// The fixed header fields; they cannot run out, the stated length being at
// least the header's.
void ReadHeader(Reader &r, CeSetupInfo *info, SetupHeader *header)
{
    r.Seek(20);
    r.U32(&info->TargetCpu);
    r.U32(&info->MinOsMajor);
    r.U32(&info->MinOsMinor);
    r.U32(&info->MaxOsMajor);
    r.U32(&info->MaxOsMinor);
    r.U32(&info->MinBuild);
    r.U32(&info->MaxBuild);
    for (uint16_t &c : header->Counts)
        r.U16(&c);
    for (uint32_t &o : header->Offsets)
        r.U32(&o);
    for (int i = 0; i < 3; ++i) {
        r.U16(&header->NameOffset[i]);
        r.U16(&header->NameLength[i]);
    }
}

// Unsupported platforms: zero-separated, ended by an empty string.
void SplitPlatformList(const std::vector<uint8_t> &raw, std::vector<std::string> *platforms)
{
    std::string item;
    for (uint8_t b : raw) {
        if (b) {
            item.push_back(char(b));
        } else if (item.empty()) {
            break;
        } else {
            platforms->push_back(item);
            item.clear();
        }
    }
}

// The application and provider names and the unsupported-platform list.
bool ReadNames(Reader &r, const SetupHeader &header, CeSetupInfo *info, std::string *error)
{
    std::string *names[2] = {&info->AppName, &info->Provider};
    for (int i = 0; i < 3; ++i) {
        uint16_t offset = header.NameOffset[i], length = header.NameLength[i];
        if (!r.Seek(offset) || (length && offset < HeaderSize))
            return Fail(error, "name offset past the end of the setup information");
        std::vector<uint8_t> raw;
        if (!r.Bytes(length, &raw))
            return Fail(error, "name runs past the end of the setup information");
        if (i < 2) {
            r.Seek(offset);
            r.Text(length, names[i]);
        } else {
            SplitPlatformList(raw, &info->UnsupportedPlatforms);
        }
    }
    return true;
}

// ---- one record of each table: false with *why, which the caller places ----

const char RecordCutShort[] = "runs past the end or has an odd length";

bool ReadStringRecord(Reader &r, CeSetupInfo *info, std::string *why)
{
    uint16_t id, len;
    std::string text;
    if (!(r.U16(&id) && r.U16(&len) && r.Text(len, &text)))
        return Fail(why, RecordCutShort);
    if (!info->Strings.emplace(id, text).second)
        return Fail(why, "string id " + std::to_string(id) + " repeats");
    return true;
}

bool ReadDirRecord(Reader &r, CeSetupInfo *info, std::string *why)
{
    uint16_t id, len;
    CeDir dir;
    if (!(r.U16(&id) && r.U16(&len) && r.IdList(len, &dir.StringIds)))
        return Fail(why, RecordCutShort);
    if (id == 0 || !TerminatedList(dir.StringIds))
        return Fail(why, "folder id 0 or string list not ended by one 0");
    if (!info->Dirs.emplace(id, dir).second)
        return Fail(why, "folder id " + std::to_string(id) + " repeats");
    return true;
}

bool ReadFileRecord(Reader &r, CeSetupInfo *info, std::string *why)
{
    CeFile file;
    uint16_t len;
    if (!(r.U16(&file.FileNumber) && r.U16(&file.DirId) && r.U16(&file.Unknown) && r.U32(&file.Flags) &&
          r.U16(&len) && r.Text(len, &file.Name)))
        return Fail(why, RecordCutShort);
    info->Files.push_back(file);
    return true;
}

bool ReadHiveRecord(Reader &r, CeSetupInfo *info, std::string *why)
{
    uint16_t id, zero, len;
    CeRegHive hive;
    if (!(r.U16(&id) && r.U16(&hive.Root) && r.U16(&zero) && r.U16(&len) && r.IdList(len, &hive.StringIds)))
        return Fail(why, RecordCutShort);
    if (hive.Root < RootClassesRoot || hive.Root > RootUsers)
        return Fail(why, "unknown registry root " + std::to_string(hive.Root));
    if (!TerminatedList(hive.StringIds))
        return Fail(why, "key string list not ended by one 0");
    if (!info->Hives.emplace(id, hive).second)
        return Fail(why, "hive id " + std::to_string(id) + " repeats");
    return true;
}

bool ReadValueRecord(Reader &r, CeSetupInfo *info, std::string *why)
{
    CeRegValue value;
    uint16_t len;
    std::vector<uint8_t> raw;
    if (!(r.U16(&value.Id) && r.U16(&value.HiveId) && r.U16(&value.Substitute) && r.U32(&value.Flags) &&
          r.U16(&len) && r.Bytes(len, &raw)))
        return Fail(why, RecordCutShort);
    auto zero = std::find(raw.begin(), raw.end(), uint8_t(0));
    if (zero == raw.end())
        return Fail(why, "value name not ended by 0");
    value.Name.assign(raw.begin(), zero);
    value.Value.assign(zero + 1, raw.end());
    info->Values.push_back(value);
    return true;
}

bool ReadLinkRecord(Reader &r, CeSetupInfo *info, std::string *why)
{
    CeLink link;
    uint16_t len;
    if (!(r.U16(&link.Id) && r.U16(&link.Unknown) && r.U16(&link.BaseDir) && r.U16(&link.Target) &&
          r.U16(&link.TargetType) && r.U16(&len) && r.IdList(len, &link.StringIds)))
        return Fail(why, RecordCutShort);
    // Real CABs do not end this list with 0; tolerate one that does.
    while (!link.StringIds.empty() && link.StringIds.back() == 0)
        link.StringIds.pop_back();
    if (link.StringIds.empty())
        return Fail(why, "shortcut without a name");
    info->Links.push_back(link);
    return true;
}

// The six tables in the header's order.
const struct {
    const char *Name;
    bool (*ReadRecord)(Reader &r, CeSetupInfo *info, std::string *why);
} Tables[6] = {
    {"STRINGS", ReadStringRecord}, {"DIRS", ReadDirRecord},     {"FILES", ReadFileRecord},
    {"REGHIVES", ReadHiveRecord},  {"REGKEYS", ReadValueRecord}, {"LINKS", ReadLinkRecord},
};

bool ReadTable(Reader &r, int table, const SetupHeader &header, CeSetupInfo *info, std::string *error)
{
    std::string name = Tables[table].Name;
    if (!r.Seek(header.Offsets[table]) || (header.Counts[table] && header.Offsets[table] < HeaderSize))
        return Fail(error, name + " table offset past the end");
    for (unsigned k = 0; k < header.Counts[table]; ++k) {
        std::string why;
        if (!Tables[table].ReadRecord(r, info, &why))
            return Fail(error, name + " record " + std::to_string(k) + ": " + why);
    }
    return true;
}

} // namespace

bool ParseSetupInfo(const uint8_t *data, size_t size, CeSetupInfo *info, std::string *error)
{
    *info = CeSetupInfo();
    uint32_t total;
    if (!ReadStatedLength(data, size, &total, error))
        return false;
    Reader r(data, total);
    SetupHeader header;
    ReadHeader(r, info, &header);
    if (!ReadNames(r, header, info, error))
        return false;
    for (int table = 0; table < 6; ++table)
        if (!ReadTable(r, table, header, info, error))
            return false;
    return true;
}

namespace {

// "%CEn%" at the start of a DIRS path, n of one to three digits: its number
// and where its closing '%' stands.  False when the path does not start so.
bool ParseFolderMacro(const Str &raw, unsigned *macro, size_t *close)
{
    *close = raw.find(u'%', 1);
    bool ok = raw.size() > 4 && raw[0] == u'%' && SameName(raw.substr(1, 2), u"CE") && *close != Str::npos &&
              *close > 3 && *close <= 6;
    for (size_t k = 3; ok && k < *close; ++k) {
        if (raw[k] < u'0' || raw[k] > u'9')
            ok = false;
        else
            *macro = *macro * 10 + (raw[k] - u'0');
    }
    return ok;
}

// ---- planning: PlanInstall runs the steps in the order declared ----

class Planner {
public:
    Planner(const CeSetupInfo &info, const Str &destination, size_t rootLength, InstallPlan *plan,
            std::string *error)
        : info_(info), destination_(destination), rootLength_(rootLength), plan_(plan), error_(error)
    {
    }

    bool NameApplication();
    bool ResolveFolders();
    bool ChooseInstallFolder();
    bool NumberMembers(const std::vector<Str> &members);
    bool PlanFiles();
    bool PlanValues();
    bool PlanLinks();

private:
    bool JoinStrings(const std::vector<uint16_t> &ids, Str *out);
    bool ResolveFolder(uint16_t id, const CeDir &entry);
    const ResolvedDir *BestInstallFolder() const;
    bool ExtendsAnother(const ResolvedDir &dir) const;
    size_t FilesWithin(const Str &folder) const;
    Str FinalPath(const Str &path) const;
    bool ClaimTarget(const Str &target);
    bool PlanFile(const CeFile &file);
    bool PlanValue(const CeRegValue &value);
    bool PlanValueData(const CeRegValue &value, const std::string &where, PlannedValue *planned);
    bool PlanMultiString(const CeRegValue &value, const std::string &where, std::vector<uint8_t> *data);
    bool ValueText(const CeRegValue &value, const std::string &where, const std::string &bytes, Str *out);
    bool PlanLink(const CeLink &link);
    bool LinkFolder(const CeLink &link, const std::string &where, Str *folder);
    bool LinkTarget(const CeLink &link, const std::string &where, Str *target);

    const CeSetupInfo &info_;
    const Str &destination_;
    size_t rootLength_;
    InstallPlan *plan_;
    std::string *error_;
    std::map<uint16_t, ResolvedDir> dirs_;
    Str sourceFolder_;                       // the install folder where the CAB puts it
    std::map<int, size_t> byNumber_;         // member index by file number
    std::vector<Str> targets_;               // every file and shortcut, so none is written twice
    std::map<uint16_t, Str> fileTargets_;    // by file number, for the shortcuts
};

bool Planner::NameApplication()
{
    plan_->AppName = FromCodePage1252(info_.AppName);
    plan_->Provider = FromCodePage1252(info_.Provider);
    if (plan_->AppName.empty())
        return Fail(error_, "setup information names no application");
    Str appKey = plan_->Provider.empty() ? plan_->AppName : plan_->Provider + u" " + plan_->AppName;
    if (appKey.find(u'\\') != Str::npos || !ValidKeyPath(appKey))
        return Fail(error_, "application or provider name cannot be a registry key");
    return true;
}

bool Planner::JoinStrings(const std::vector<uint16_t> &ids, Str *out)
{
    out->clear();
    for (uint16_t id : ids) {
        if (id == 0)
            break;
        auto it = info_.Strings.find(id);
        if (it == info_.Strings.end())
            return Fail(error_, "string id " + std::to_string(id) + " is not defined");
        if (!out->empty())
            out->push_back(u'\\');
        *out += FromCodePage1252(it->second);
    }
    return true;
}

// Folders: each starts with a defined macro, the rest obeys the name rules.
bool Planner::ResolveFolders()
{
    for (const auto &entry : info_.Dirs)
        if (!ResolveFolder(entry.first, entry.second))
            return false;
    return true;
}

bool Planner::ResolveFolder(uint16_t id, const CeDir &entry)
{
    Str raw;
    if (!JoinStrings(entry.StringIds, &raw))
        return false;
    ResolvedDir dir{id, 0, false, Str()};
    size_t close;
    if (!ParseFolderMacro(raw, &dir.Macro, &close))
        return Fail(error_, "folder " + std::to_string(id) + " does not start with a %CEn% macro");
    const char16_t *base = MacroFolder(dir.Macro);
    if (!base)
        return Fail(error_, "undefined folder macro %CE" + std::to_string(dir.Macro) + "%");
    Str rest = raw.substr(close + 1);
    dir.Path = base;
    if (!rest.empty()) {
        if (rest[0] != u'\\' && rest[0] != u'/')
            return Fail(error_, "folder " + std::to_string(id) + " has text after its macro");
        Str clean;
        NameVerdict v = CheckRelativeName(rest.substr(1), rootLength_ + dir.Path.size() + 1, &clean);
        if (v != NameOk)
            return Fail(error_, "folder " + std::to_string(id) + ": " + NameVerdictText(v));
        dir.Path = JoinPath(dir.Path, clean);
        dir.HasSubPath = true;
    }
    dirs_.emplace(id, dir);
    return true;
}

// The install folder (rule in ce000.h), and where it goes.
bool Planner::ChooseInstallFolder()
{
    const ResolvedDir *best = BestInstallFolder();
    if (best) {
        sourceFolder_ = best->Path;
    } else {
        Str clean;
        if (CheckRelativeName(plan_->AppName, rootLength_ + 15, &clean) != NameOk)
            return Fail(error_, "application name cannot be a folder name");
        sourceFolder_ = JoinPath(u"\\Program Files", clean);
    }
    plan_->InstallFolder = destination_.empty() ? sourceFolder_ : destination_;
    if (!FitsPath(plan_->InstallFolder, rootLength_))
        return Fail(error_, "install folder path too long");
    return true;
}

const ResolvedDir *Planner::BestInstallFolder() const
{
    const ResolvedDir *best = nullptr;
    size_t bestCount = 0;
    for (const auto &candidate : dirs_) {
        const ResolvedDir &c = candidate.second;
        if (!c.HasSubPath || ExtendsAnother(c))
            continue;
        size_t count = FilesWithin(c.Path);
        if (count == 0)
            continue;
        bool better = !best || count > bestCount || (count == bestCount && c.Macro == 1 && best->Macro != 1);
        if (better) {
            best = &c;
            bestCount = count;
        }
    }
    return best;
}

// Whether dir lies inside another DIRS path that is more than a bare macro folder.
bool Planner::ExtendsAnother(const ResolvedDir &dir) const
{
    for (const auto &other : dirs_)
        if (other.second.Path.size() < dir.Path.size() && other.second.HasSubPath &&
            IsWithinFolder(dir.Path, other.second.Path))
            return true;
    return false;
}

// How many FILES entries go into folder or below it.
size_t Planner::FilesWithin(const Str &folder) const
{
    size_t count = 0;
    for (const CeFile &file : info_.Files) {
        auto d = dirs_.find(file.DirId);
        if (d != dirs_.end() && IsWithinFolder(d->second.Path, folder))
            ++count;
    }
    return count;
}

// Where a path of the CAB lands: under the destination when it lies in the
// install folder and a destination is given, else where it is.
Str Planner::FinalPath(const Str &path) const
{
    if (destination_.empty() || !IsWithinFolder(path, sourceFolder_))
        return path;
    Str rest = path.substr(sourceFolder_.size());
    if (!rest.empty() && rest[0] == u'\\')
        rest.erase(0, 1);
    return JoinPath(destination_, rest);
}

// Members by file number; the number must be unambiguous.
bool Planner::NumberMembers(const std::vector<Str> &members)
{
    for (size_t i = 0; i < members.size(); ++i) {
        int n = MemberFileNumber(members[i]);
        if (n >= 0 && !byNumber_.emplace(n, i).second)
            return Fail(error_, "two CAB members carry file number " + std::to_string(n));
    }
    return true;
}

bool Planner::ClaimTarget(const Str &target)
{
    for (const Str &t : targets_)
        if (SameName(t, target))
            return Fail(error_, "two entries write the same file: " + ToUtf8(target));
    targets_.push_back(target);
    return true;
}

bool Planner::PlanFiles()
{
    for (const CeFile &file : info_.Files)
        if (!PlanFile(file))
            return false;
    return true;
}

bool Planner::PlanFile(const CeFile &file)
{
    std::string where = "file " + std::to_string(file.FileNumber) + ": ";
    if (file.FileNumber == 0)
        return Fail(error_, where + "the setup information itself cannot be installed");
    auto member = byNumber_.find(file.FileNumber);
    if (member == byNumber_.end())
        return Fail(error_, where + "no CAB member carries this number");
    auto dir = dirs_.find(file.DirId);
    if (dir == dirs_.end())
        return Fail(error_, where + "folder " + std::to_string(file.DirId) + " is not defined");
    Str folder = FinalPath(dir->second.Path);
    Str clean;
    NameVerdict v = CheckRelativeName(FromCodePage1252(file.Name), rootLength_ + folder.size() + 1, &clean);
    if (v != NameOk)
        return Fail(error_, where + NameVerdictText(v));
    Str target = JoinPath(folder, clean);
    if (!ClaimTarget(target))
        return false;
    plan_->Files.push_back(PlannedFile{member->second, target, file.Flags});
    fileTargets_.emplace(file.FileNumber, target);
    return true;
}

bool Planner::PlanValues()
{
    for (const CeRegValue &value : info_.Values)
        if (!PlanValue(value))
            return false;
    return true;
}

bool Planner::PlanValue(const CeRegValue &value)
{
    std::string where = "registry value " + std::to_string(value.Id) + ": ";
    auto hive = info_.Hives.find(value.HiveId);
    if (hive == info_.Hives.end())
        return Fail(error_, where + "hive " + std::to_string(value.HiveId) + " is not defined");
    PlannedValue planned;
    planned.Root = hive->second.Root;
    if (!JoinStrings(hive->second.StringIds, &planned.Key))
        return false;
    if (!ValidKeyPath(planned.Key))
        return Fail(error_, where + "unusable key path");
    planned.Name = FromCodePage1252(value.Name);
    planned.KeepExisting = (value.Flags & CeRegNoOverwrite) != 0;
    if (!PlanValueData(value, where, &planned))
        return false;
    plan_->Values.push_back(planned);
    return true;
}

// The value's type, and its data as the registry stores it.
bool Planner::PlanValueData(const CeRegValue &value, const std::string &where, PlannedValue *planned)
{
    switch (value.Flags & CeRegTypeMask) {
    case CeRegDword:
        if (value.Value.size() != 4)
            return Fail(error_, where + "a DWORD must hold 4 bytes");
        planned->Type = ValueDword;
        planned->Data = value.Value;
        return true;
    case CeRegString: {
        planned->Type = ValueString;
        auto end = std::find(value.Value.begin(), value.Value.end(), uint8_t(0));
        Str s;
        if (!ValueText(value, where, std::string(value.Value.begin(), end), &s))
            return false;
        AppendUtf16(&planned->Data, s);
        return true;
    }
    case CeRegMultiString:
        planned->Type = ValueMultiString;
        return PlanMultiString(value, where, &planned->Data);
    default:
        planned->Type = ValueBinary;
        planned->Data = value.Value;
        return true;
    }
}

// Zero-separated texts, ended by an empty one or the data's end.
bool Planner::PlanMultiString(const CeRegValue &value, const std::string &where, std::vector<uint8_t> *data)
{
    std::string item;
    for (size_t k = 0; k <= value.Value.size(); ++k) {
        uint8_t b = k < value.Value.size() ? value.Value[k] : 0;
        if (b) {
            item.push_back(char(b));
            continue;
        }
        if (item.empty())
            break;
        Str s;
        if (!ValueText(value, where, item, &s))
            return false;
        AppendUtf16(data, s);
        item.clear();
    }
    data->push_back(0);
    data->push_back(0);
    return true;
}

// A text of the value, its folder macros replaced when the value asks for that.
bool Planner::ValueText(const CeRegValue &value, const std::string &where, const std::string &bytes, Str *out)
{
    Str raw = FromCodePage1252(bytes);
    if (value.Substitute != 1) {
        *out = raw;
        return true;
    }
    std::string why;
    if (!Substitute(raw, plan_->InstallFolder, out, &why))
        return Fail(error_, where + why);
    return true;
}

bool Planner::PlanLinks()
{
    for (const CeLink &link : info_.Links)
        if (!PlanLink(link))
            return false;
    return true;
}

bool Planner::PlanLink(const CeLink &link)
{
    std::string where = "shortcut " + std::to_string(link.Id) + ": ";
    Str base;
    if (!LinkFolder(link, where, &base))
        return false;
    Str name, clean;
    if (!JoinStrings(link.StringIds, &name))
        return false;
    NameVerdict v = CheckRelativeName(name, rootLength_ + base.size() + 1, &clean);
    if (v != NameOk)
        return Fail(error_, where + NameVerdictText(v));
    PlannedLink planned{JoinPath(base, clean), Str()};
    if (!LinkTarget(link, where, &planned.Target) || !ClaimTarget(planned.Path))
        return false;
    plan_->Links.push_back(planned);
    return true;
}

// The folder the shortcut is made in: the install folder, or a macro's.
bool Planner::LinkFolder(const CeLink &link, const std::string &where, Str *folder)
{
    if (link.BaseDir == 0) {
        *folder = plan_->InstallFolder;
        return true;
    }
    const char16_t *macroFolder = MacroFolder(link.BaseDir);
    if (!macroFolder)
        return Fail(error_, where + "undefined folder macro %CE" + std::to_string(link.BaseDir) + "%");
    *folder = macroFolder;
    return true;
}

// What the shortcut points at: a folder of the CAB (0: the install folder)
// or a file it installs.
bool Planner::LinkTarget(const CeLink &link, const std::string &where, Str *target)
{
    if (link.TargetType == 0) {
        if (link.Target == 0) {
            *target = plan_->InstallFolder;
            return true;
        }
        auto dir = dirs_.find(link.Target);
        if (dir == dirs_.end())
            return Fail(error_, where + "target folder " + std::to_string(link.Target) + " is not defined");
        *target = FinalPath(dir->second.Path);
        return true;
    }
    if (link.TargetType == 1) {
        auto file = fileTargets_.find(link.Target);
        if (file == fileTargets_.end())
            return Fail(error_, where + "target file " + std::to_string(link.Target) + " is not installed");
        *target = file->second;
        return true;
    }
    return Fail(error_, where + "unknown target type " + std::to_string(link.TargetType));
}

} // namespace

bool PlanInstall(const CeSetupInfo &info, const std::vector<Str> &members, const Str &destination,
                 size_t rootLength, InstallPlan *plan, std::string *error)
{
    *plan = InstallPlan();
    Planner planner(info, destination, rootLength, plan, error);
    return planner.NameApplication() && planner.ResolveFolders() && planner.ChooseInstallFolder() &&
           planner.NumberMembers(members) && planner.PlanFiles() && planner.PlanValues() && planner.PlanLinks();
}

} // namespace wceload
