/*
 * ce000.cpp -- reads the setup-information file of a device CAB and turns it
 * into an installation plan.  Every length is checked against what is left
 * of the file before it is used; nothing here writes anywhere.
 */
#include "ce000.h"

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
        *v = uint16_t(data_[pos_] | data_[pos_ + 1] << 8);
        pos_ += 2;
        return true;
    }
    bool U32(uint32_t *v)
    {
        if (4 > size_ - pos_)
            return false;
        *v = uint32_t(data_[pos_]) | uint32_t(data_[pos_ + 1]) << 8 | uint32_t(data_[pos_ + 2]) << 16 |
             uint32_t(data_[pos_ + 3]) << 24;
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

std::string TableName(int table)
{
    static const char *names[] = {"STRINGS", "DIRS", "FILES", "REGHIVES", "REGKEYS", "LINKS"};
    return names[table];
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

bool ParseSetupInfo(const uint8_t *data, size_t size, CeSetupInfo *info, std::string *error)
{
    *info = CeSetupInfo();
    if (size < 100)
        return Fail(error, "setup information shorter than its header");
    if (data[0] != 'M' || data[1] != 'S' || data[2] != 'C' || data[3] != 'E')
        return Fail(error, "setup information lacks its MSCE signature");
    Reader head(data, size);
    uint32_t total;
    head.Seek(8);
    head.U32(&total);
    if (total < 100 || total > size)
        return Fail(error, "stated length of the setup information does not fit the file");
    Reader r(data, total);

    r.Seek(20);
    r.U32(&info->TargetCpu);
    r.U32(&info->MinOsMajor);
    r.U32(&info->MinOsMinor);
    r.U32(&info->MaxOsMajor);
    r.U32(&info->MaxOsMinor);
    r.U32(&info->MinBuild);
    r.U32(&info->MaxBuild);
    uint16_t counts[6];
    uint32_t offsets[6];
    for (uint16_t &c : counts)
        r.U16(&c);
    for (uint32_t &o : offsets)
        r.U32(&o);
    uint16_t nameOffset[3], nameLength[3];
    for (int i = 0; i < 3; ++i) {
        r.U16(&nameOffset[i]);
        r.U16(&nameLength[i]);
    }
    std::string *names[2] = {&info->AppName, &info->Provider};
    for (int i = 0; i < 3; ++i) {
        if (!r.Seek(nameOffset[i]) || (nameLength[i] && nameOffset[i] < 100)) {
            Fail(error, "name offset past the end of the setup information");
            return false;
        }
        std::string text;
        std::vector<uint8_t> raw;
        if (!r.Bytes(nameLength[i], &raw)) {
            Fail(error, "name runs past the end of the setup information");
            return false;
        }
        if (i < 2) {
            r.Seek(nameOffset[i]);
            r.Text(nameLength[i], names[i]);
            continue;
        }
        // Unsupported platforms: zero-separated, ended by an empty string.
        std::string item;
        for (uint8_t b : raw) {
            if (b) {
                item.push_back(char(b));
            } else if (item.empty()) {
                break;
            } else {
                info->UnsupportedPlatforms.push_back(item);
                item.clear();
            }
        }
    }

    for (int table = 0; table < 6; ++table) {
        if (!r.Seek(offsets[table]) || (counts[table] && offsets[table] < 100)) {
            Fail(error, TableName(table) + " table offset past the end");
            return false;
        }
        for (unsigned k = 0; k < counts[table]; ++k) {
            std::string where = TableName(table) + " record " + std::to_string(k) + ": ";
            bool ok = true;
            switch (table) {
            case 0: {
                uint16_t id, len;
                std::string text;
                ok = r.U16(&id) && r.U16(&len) && r.Text(len, &text);
                if (ok && !info->Strings.emplace(id, text).second)
                    return Fail(error, where + "string id " + std::to_string(id) + " repeats");
                break;
            }
            case 1: {
                uint16_t id, len;
                CeDir dir;
                ok = r.U16(&id) && r.U16(&len) && r.IdList(len, &dir.StringIds);
                if (!ok)
                    break;
                if (id == 0 || !TerminatedList(dir.StringIds))
                    return Fail(error, where + "folder id 0 or string list not ended by one 0");
                if (!info->Dirs.emplace(id, dir).second)
                    return Fail(error, where + "folder id " + std::to_string(id) + " repeats");
                break;
            }
            case 2: {
                CeFile file;
                uint16_t len;
                ok = r.U16(&file.FileNumber) && r.U16(&file.DirId) && r.U16(&file.Unknown) &&
                     r.U32(&file.Flags) && r.U16(&len) && r.Text(len, &file.Name);
                if (ok)
                    info->Files.push_back(file);
                break;
            }
            case 3: {
                uint16_t id, zero, len;
                CeRegHive hive;
                ok = r.U16(&id) && r.U16(&hive.Root) && r.U16(&zero) && r.U16(&len) &&
                     r.IdList(len, &hive.StringIds);
                if (!ok)
                    break;
                if (hive.Root < RootClassesRoot || hive.Root > RootUsers)
                    return Fail(error, where + "unknown registry root " + std::to_string(hive.Root));
                if (!TerminatedList(hive.StringIds))
                    return Fail(error, where + "key string list not ended by one 0");
                if (!info->Hives.emplace(id, hive).second)
                    return Fail(error, where + "hive id " + std::to_string(id) + " repeats");
                break;
            }
            case 4: {
                CeRegValue value;
                uint16_t len;
                std::vector<uint8_t> raw;
                ok = r.U16(&value.Id) && r.U16(&value.HiveId) && r.U16(&value.Substitute) &&
                     r.U32(&value.Flags) && r.U16(&len) && r.Bytes(len, &raw);
                if (!ok)
                    break;
                auto zero = std::find(raw.begin(), raw.end(), uint8_t(0));
                if (zero == raw.end())
                    return Fail(error, where + "value name not ended by 0");
                value.Name.assign(raw.begin(), zero);
                value.Value.assign(zero + 1, raw.end());
                info->Values.push_back(value);
                break;
            }
            case 5: {
                CeLink link;
                uint16_t len;
                ok = r.U16(&link.Id) && r.U16(&link.Unknown) && r.U16(&link.BaseDir) &&
                     r.U16(&link.Target) && r.U16(&link.TargetType) && r.U16(&len) &&
                     r.IdList(len, &link.StringIds);
                if (!ok)
                    break;
                // Real CABs do not end this list with 0; tolerate one that does.
                while (!link.StringIds.empty() && link.StringIds.back() == 0)
                    link.StringIds.pop_back();
                if (link.StringIds.empty())
                    return Fail(error, where + "shortcut without a name");
                info->Links.push_back(link);
                break;
            }
            }
            if (!ok)
                return Fail(error, where + "runs past the end or has an odd length");
        }
    }
    return true;
}

bool PlanInstall(const CeSetupInfo &info, const std::vector<Str> &members, const Str &destination,
                 size_t rootLength, InstallPlan *plan, std::string *error)
{
    *plan = InstallPlan();
    plan->AppName = FromCodePage1252(info.AppName);
    plan->Provider = FromCodePage1252(info.Provider);
    if (plan->AppName.empty())
        return Fail(error, "setup information names no application");
    Str appKey = plan->Provider.empty() ? plan->AppName : plan->Provider + u" " + plan->AppName;
    if (appKey.find(u'\\') != Str::npos || !ValidKeyPath(appKey))
        return Fail(error, "application or provider name cannot be a registry key");

    auto joinStrings = [&](const std::vector<uint16_t> &ids, Str *out) {
        out->clear();
        for (uint16_t id : ids) {
            if (id == 0)
                break;
            auto it = info.Strings.find(id);
            if (it == info.Strings.end()) {
                *error = "string id " + std::to_string(id) + " is not defined";
                return false;
            }
            if (!out->empty())
                out->push_back(u'\\');
            *out += FromCodePage1252(it->second);
        }
        return true;
    };

    // Folders: each starts with a defined macro, the rest obeys the name rules.
    std::map<uint16_t, ResolvedDir> dirs;
    for (const auto &entry : info.Dirs) {
        Str raw;
        if (!joinStrings(entry.second.StringIds, &raw))
            return false;
        ResolvedDir dir{entry.first, 0, false, Str()};
        size_t close = raw.find(u'%', 1);
        bool macro = raw.size() > 4 && raw[0] == u'%' && SameName(raw.substr(1, 2), u"CE") &&
                     close != Str::npos && close > 3 && close <= 6;
        for (size_t k = 3; macro && k < close; ++k) {
            if (raw[k] < u'0' || raw[k] > u'9')
                macro = false;
            else
                dir.Macro = dir.Macro * 10 + (raw[k] - u'0');
        }
        if (!macro)
            return Fail(error, "folder " + std::to_string(entry.first) + " does not start with a %CEn% macro");
        const char16_t *base = MacroFolder(dir.Macro);
        if (!base)
            return Fail(error, "undefined folder macro %CE" + std::to_string(dir.Macro) + "%");
        Str rest = raw.substr(close + 1);
        dir.Path = base;
        if (!rest.empty()) {
            if (rest[0] != u'\\' && rest[0] != u'/')
                return Fail(error, "folder " + std::to_string(entry.first) + " has text after its macro");
            Str clean;
            NameVerdict v = CheckRelativeName(rest.substr(1), rootLength + dir.Path.size() + 1, &clean);
            if (v != NameOk)
                return Fail(error, "folder " + std::to_string(entry.first) + ": " + NameVerdictText(v));
            dir.Path = JoinPath(dir.Path, clean);
            dir.HasSubPath = true;
        }
        dirs.emplace(entry.first, dir);
    }

    // The install folder (rule in ce000.h).
    const ResolvedDir *best = nullptr;
    size_t bestCount = 0;
    for (const auto &candidate : dirs) {
        const ResolvedDir &c = candidate.second;
        if (!c.HasSubPath)
            continue;
        bool extendsAnother = false;
        for (const auto &other : dirs)
            if (other.second.Path.size() < c.Path.size() && other.second.HasSubPath &&
                IsWithinFolder(c.Path, other.second.Path))
                extendsAnother = true;
        if (extendsAnother)
            continue;
        size_t count = 0;
        for (const CeFile &file : info.Files) {
            auto d = dirs.find(file.DirId);
            if (d != dirs.end() && IsWithinFolder(d->second.Path, c.Path))
                ++count;
        }
        if (count == 0)
            continue;
        bool better = !best || count > bestCount ||
                      (count == bestCount && c.Macro == 1 && best->Macro != 1);
        if (better) {
            best = &c;
            bestCount = count;
        }
    }
    Str sourceFolder;
    if (best) {
        sourceFolder = best->Path;
    } else {
        Str clean;
        if (CheckRelativeName(plan->AppName, rootLength + 15, &clean) != NameOk)
            return Fail(error, "application name cannot be a folder name");
        sourceFolder = JoinPath(u"\\Program Files", clean);
    }
    plan->InstallFolder = destination.empty() ? sourceFolder : destination;
    auto finalPath = [&](const Str &path) {
        if (destination.empty() || !IsWithinFolder(path, sourceFolder))
            return path;
        Str rest = path.substr(sourceFolder.size());
        if (!rest.empty() && rest[0] == u'\\')
            rest.erase(0, 1);
        return JoinPath(destination, rest);
    };
    if (!FitsPath(plan->InstallFolder, rootLength))
        return Fail(error, "install folder path too long");

    // Members by file number; the number must be unambiguous.
    std::map<int, size_t> byNumber;
    for (size_t i = 0; i < members.size(); ++i) {
        int n = MemberFileNumber(members[i]);
        if (n >= 0 && !byNumber.emplace(n, i).second)
            return Fail(error, "two CAB members carry file number " + std::to_string(n));
    }

    std::vector<Str> targets;
    auto claimTarget = [&](const Str &target) {
        for (const Str &t : targets)
            if (SameName(t, target)) {
                *error = "two entries write the same file: " + ToUtf8(target);
                return false;
            }
        targets.push_back(target);
        return true;
    };
    std::map<uint16_t, Str> fileTargets;
    for (const CeFile &file : info.Files) {
        std::string where = "file " + std::to_string(file.FileNumber) + ": ";
        if (file.FileNumber == 0)
            return Fail(error, where + "the setup information itself cannot be installed");
        auto member = byNumber.find(file.FileNumber);
        if (member == byNumber.end())
            return Fail(error, where + "no CAB member carries this number");
        auto dir = dirs.find(file.DirId);
        if (dir == dirs.end())
            return Fail(error, where + "folder " + std::to_string(file.DirId) + " is not defined");
        Str folder = finalPath(dir->second.Path);
        Str clean;
        NameVerdict v = CheckRelativeName(FromCodePage1252(file.Name), rootLength + folder.size() + 1, &clean);
        if (v != NameOk)
            return Fail(error, where + NameVerdictText(v));
        Str target = JoinPath(folder, clean);
        if (!claimTarget(target))
            return false;
        plan->Files.push_back(PlannedFile{member->second, target, file.Flags});
        fileTargets.emplace(file.FileNumber, target);
    }

    for (const CeRegValue &value : info.Values) {
        std::string where = "registry value " + std::to_string(value.Id) + ": ";
        auto hive = info.Hives.find(value.HiveId);
        if (hive == info.Hives.end())
            return Fail(error, where + "hive " + std::to_string(value.HiveId) + " is not defined");
        PlannedValue planned;
        planned.Root = hive->second.Root;
        if (!joinStrings(hive->second.StringIds, &planned.Key))
            return false;
        if (!ValidKeyPath(planned.Key))
            return Fail(error, where + "unusable key path");
        planned.Name = FromCodePage1252(value.Name);
        planned.KeepExisting = (value.Flags & CeRegNoOverwrite) != 0;
        bool substitute = value.Substitute == 1;
        auto text = [&](const std::string &bytes, Str *out) {
            Str raw = FromCodePage1252(bytes);
            if (!substitute) {
                *out = raw;
                return true;
            }
            std::string why;
            if (!Substitute(raw, plan->InstallFolder, out, &why)) {
                *error = where + why;
                return false;
            }
            return true;
        };
        switch (value.Flags & CeRegTypeMask) {
        case CeRegDword:
            if (value.Value.size() != 4)
                return Fail(error, where + "a DWORD must hold 4 bytes");
            planned.Type = ValueDword;
            planned.Data = value.Value;
            break;
        case CeRegString: {
            planned.Type = ValueString;
            auto end = std::find(value.Value.begin(), value.Value.end(), uint8_t(0));
            Str s;
            if (!text(std::string(value.Value.begin(), end), &s))
                return false;
            AppendUtf16(&planned.Data, s);
            break;
        }
        case CeRegMultiString: {
            planned.Type = ValueMultiString;
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
                if (!text(item, &s))
                    return false;
                AppendUtf16(&planned.Data, s);
                item.clear();
            }
            planned.Data.push_back(0);
            planned.Data.push_back(0);
            break;
        }
        default:
            planned.Type = ValueBinary;
            planned.Data = value.Value;
            break;
        }
        plan->Values.push_back(planned);
    }

    for (const CeLink &link : info.Links) {
        std::string where = "shortcut " + std::to_string(link.Id) + ": ";
        Str base;
        if (link.BaseDir == 0) {
            base = plan->InstallFolder;
        } else {
            const char16_t *folder = MacroFolder(link.BaseDir);
            if (!folder)
                return Fail(error, where + "undefined folder macro %CE" + std::to_string(link.BaseDir) + "%");
            base = folder;
        }
        Str name, clean;
        if (!joinStrings(link.StringIds, &name))
            return false;
        NameVerdict v = CheckRelativeName(name, rootLength + base.size() + 1, &clean);
        if (v != NameOk)
            return Fail(error, where + NameVerdictText(v));
        PlannedLink planned{JoinPath(base, clean), Str()};
        if (link.TargetType == 0) {
            if (link.Target == 0) {
                planned.Target = plan->InstallFolder;
            } else {
                auto dir = dirs.find(link.Target);
                if (dir == dirs.end())
                    return Fail(error, where + "target folder " + std::to_string(link.Target) + " is not defined");
                planned.Target = finalPath(dir->second.Path);
            }
        } else if (link.TargetType == 1) {
            auto file = fileTargets.find(link.Target);
            if (file == fileTargets.end())
                return Fail(error, where + "target file " + std::to_string(link.Target) + " is not installed");
            planned.Target = file->second;
        } else {
            return Fail(error, where + "unknown target type " + std::to_string(link.TargetType));
        }
        if (!claimTarget(planned.Path))
            return false;
        plan->Links.push_back(planned);
    }
    return true;
}

} // namespace wceload
