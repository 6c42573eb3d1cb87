// diff.cpp -- compares two packages field by field.  The order of the
// differences is the order of the package: setup program, header fields,
// variables, components, texts.
#include "diff.h"

#include "json.h"
#include "manifest.h"
#include "pkgwrite.h"
#include "sha256.h"

#include "format.h"

#include <cstdio>
#include <functional>
#include <map>

namespace velkor {

DiffValue DiffValue::Str(const std::string &s)
{
    DiffValue v;
    v.kind = Text;
    v.text = s;
    return v;
}

DiffValue DiffValue::Num(uint64_t n)
{
    DiffValue v;
    v.kind = Number;
    v.number = n;
    return v;
}

DiffValue DiffValue::Bool(bool b)
{
    DiffValue v;
    v.kind = Boolean;
    v.boolean = b;
    return v;
}

DiffValue DiffValue::Names(const std::vector<std::string> &names)
{
    DiffValue v;
    v.kind = List;
    v.list = names;
    return v;
}

bool DiffValue::operator==(const DiffValue &o) const
{
    return kind == o.kind && text == o.text && number == o.number && boolean == o.boolean && list == o.list &&
           fields == o.fields;
}

namespace {

std::string Hex2(unsigned v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFF);
    return buf;
}

DiffValue ComponentValue(const PackageSummary &p, size_t i)
{
    const ComponentInfo &c = p.info.components[i];
    DiffValue v;
    v.kind = DiffValue::Object;
    v.fields = {{"position", DiffValue::Num(i + 1)},
                {"unpacked_size", DiffValue::Num(c.unpackedSize)},
                {"accepts_destination", DiffValue::Bool(c.acceptsDestination != 0)},
                {"selected", DiffValue::Bool(c.selected != 0)},
                {"sha256", DiffValue::Str(p.componentSha256[i])}};
    return v;
}

// Pairs items of two lists by name, the k-th of a name with the k-th of the
// same name.  Returns, for each item of `a`, the index in `b` or -1.
std::vector<long> MatchByName(const std::vector<std::u16string> &a, const std::vector<std::u16string> &b)
{
    std::map<std::u16string, std::vector<size_t>> places;
    for (size_t i = 0; i < b.size(); ++i)
        places[b[i]].push_back(i);
    std::map<std::u16string, size_t> used;
    std::vector<long> match;
    for (const auto &name : a) {
        size_t k = used[name]++;
        auto it = places.find(name);
        match.push_back(it != places.end() && k < it->second.size() ? long(it->second[k]) : -1);
    }
    return match;
}

// Items of one section matched by name: one only in a is removed, one only
// in b added, one in both handed to `compare` (its name, index in a, index in
// b); then the order of those in both, when it changed.  `whole` shows an
// item of a, or of b, as a removed or added value.
void DiffByName(std::vector<Difference> &out, const std::string &section, const std::vector<std::u16string> &na,
                const std::vector<std::u16string> &nb, const std::function<DiffValue(bool inB, size_t i)> &whole,
                const std::function<void(const std::string &name, size_t ia, size_t ib)> &compare)
{
    std::vector<long> match = MatchByName(na, nb), back = MatchByName(nb, na);
    std::vector<std::string> orderA, orderB;
    for (size_t i = 0; i < na.size(); ++i) {
        std::string name = U8(na[i]);
        if (match[i] < 0) {
            out.push_back({section, name, "", "removed", -1, whole(false, i), {}});
            continue;
        }
        orderA.push_back(name);
        compare(name, i, size_t(match[i]));
    }
    for (size_t i = 0; i < nb.size(); ++i) {
        if (back[i] < 0)
            out.push_back({section, U8(nb[i]), "", "added", -1, {}, whole(true, i)});
        else
            orderB.push_back(U8(nb[i]));
    }
    if (orderA != orderB)
        out.push_back({section, "(order)", "", "reordered", -1, DiffValue::Names(orderA), DiffValue::Names(orderB)});
}

std::string Show(const DiffValue &v)
{
    switch (v.kind) {
    case DiffValue::Absent: return "(none)";
    case DiffValue::Text: return "\"" + Visible(v.text, true) + "\"";
    case DiffValue::Number: return v.hex ? Hex2(unsigned(v.number)) : std::to_string(v.number);
    case DiffValue::Boolean: return v.boolean ? "true" : "false";
    case DiffValue::List: {
        std::string s;
        for (const auto &x : v.list)
            s += (s.empty() ? "" : ", ") + x;
        return "[" + s + "]";
    }
    case DiffValue::Object: {
        std::string s;
        for (const auto &f : v.fields)
            s += (s.empty() ? "" : ", ") + f.first + " " + Show(f.second);
        return s;
    }
    }
    return "";
}

void WriteValue(JsonWriter &j, const DiffValue &v)
{
    switch (v.kind) {
    case DiffValue::Absent: j.Null(); break;
    case DiffValue::Text: j.String(v.text); break;
    case DiffValue::Number: j.Number(v.number); break;
    case DiffValue::Boolean: j.Bool(v.boolean); break;
    case DiffValue::List:
        j.BeginArray();
        for (const auto &x : v.list)
            j.String(x);
        j.EndArray();
        break;
    case DiffValue::Object:
        j.BeginObject();
        for (const auto &f : v.fields) {
            j.Key(f.first);
            WriteValue(j, f.second);
        }
        j.EndObject();
        break;
    }
}

}  // namespace

PackageSummary SummarisePackage(const uint8_t *data, uint64_t size)
{
    PackageSummary s;
    std::vector<Sha256> hashes;
    PackageInfo header = ReadPackage(data, size, ReadDepth::Header);
    hashes.resize(header.components.size());
    s.info = ReadPackage(data, size, ReadDepth::Decode,
                         [&](size_t i, const uint8_t *bytes, size_t n) { hashes.at(i).Update(bytes, n); });
    for (auto &h : hashes)
        s.componentSha256.push_back(h.FinishHex());
    s.programSize = s.info.headerOffset;
    s.programSha256 = Sha256Hex(data, s.info.headerOffset);
    return s;
}

std::string Visible(const std::string &s, bool quoted)
{
    std::string out;
    for (char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (quoted && c == '"')
            out += "\\\"";
        else if (quoted && c == '\\')
            out += "\\\\";
        else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned char>(c));
            out += buf;
        } else
            out += c;
    }
    return out;
}

std::vector<Difference> DiffPackages(const PackageSummary &a, const PackageSummary &b)
{
    std::vector<Difference> out;
    auto changed = [&](const std::string &section, const std::string &name, const DiffValue &before,
                       const DiffValue &after) {
        if (before != after)
            out.push_back({section, name, "", "changed", -1, before, after});
    };
    const PackageInfo &pa = a.info, &pb = b.info;

    changed("setup_program", "size", DiffValue::Num(a.programSize), DiffValue::Num(b.programSize));
    changed("setup_program", "sha256", DiffValue::Str(a.programSha256), DiffValue::Str(b.programSha256));

    // Texts are compared as stored: two that differ only in half a
    // surrogate pair print alike, but are not the same.
    auto changedText = [&](const std::string &section, const std::string &name, const std::u16string &before,
                           const std::u16string &after) {
        if (before != after)
            out.push_back({section, name, "", "changed", -1, DiffValue::Str(U8(before)), DiffValue::Str(U8(after))});
    };
    changedText("package", "software_name", pa.softwareName, pb.softwareName);
    changedText("package", "company_name", pa.companyName, pb.companyName);
    changedText("package", "destination", pa.destination, pb.destination);
    changed("package", "use_default_location", DiffValue::Bool(pa.useDefaultLocation != 0),
            DiffValue::Bool(pb.useDefaultLocation != 0));
    changed("package", "require_install_argument", DiffValue::Bool(pa.requireInstallArgument != 0),
            DiffValue::Bool(pb.requireInstallArgument != 0));
    DiffValue flagsA = DiffValue::Num(pa.storedPageFlags), flagsB = DiffValue::Num(pb.storedPageFlags);
    flagsA.hex = flagsB.hex = true;
    changed("package", "page_flags", flagsA, flagsB);
    changed("package", "pages", DiffValue::Names(PageNamesOf(pa.pageFlags)), DiffValue::Names(PageNamesOf(pb.pageFlags)));

    // Variables, by name; their order matters too (they apply in turn).
    std::vector<std::u16string> va, vb;
    for (const auto &v : pa.variables)
        va.push_back(v.first);
    for (const auto &v : pb.variables)
        vb.push_back(v.first);
    auto value = [](const PackageInfo &p, size_t i) { return DiffValue::Str(U8(p.variables[i].second)); };
    DiffByName(out, "variable", va, vb, [&](bool inB, size_t i) { return value(inB ? pb : pa, i); },
               [&](const std::string &name, size_t ia, size_t ib) {
                   changedText("variable", name, pa.variables[ia].second, pb.variables[ib].second);
               });

    // Components, by name; installation follows their order.
    std::vector<std::u16string> ca, cb;
    for (const auto &c : pa.components)
        ca.push_back(c.name);
    for (const auto &c : pb.components)
        cb.push_back(c.name);
    DiffByName(out, "component", ca, cb, [&](bool inB, size_t i) { return ComponentValue(inB ? b : a, i); },
               [&](const std::string &name, size_t ia, size_t ib) {
                   DiffValue before = ComponentValue(a, ia), after = ComponentValue(b, ib);
                   for (size_t f = 1; f < before.fields.size(); ++f)   // position shows as the order below
                       if (before.fields[f].second != after.fields[f].second)
                           out.push_back({"component", name, before.fields[f].first, "changed", -1,
                                          before.fields[f].second, after.fields[f].second});
               });

    // Texts, by table index.
    size_t texts = std::max(pa.texts.size(), pb.texts.size());
    for (size_t i = 0; i < texts; ++i) {
        std::string name = i < TextNames().size() ? TextNames()[i] : "text " + std::to_string(i);
        bool inA = i < pa.texts.size(), inB = i < pb.texts.size();
        if (inA && inB && pa.texts[i].text == pb.texts[i].text)
            continue;
        DiffValue before = inA ? DiffValue::Str(U8(pa.texts[i].text)) : DiffValue();
        DiffValue after = inB ? DiffValue::Str(U8(pb.texts[i].text)) : DiffValue();
        out.push_back({"text", name, "", inA && inB ? "changed" : (inA ? "removed" : "added"), int(i), before, after});
    }
    return out;
}

std::string FormatDiff(const std::string &pathA, const std::string &pathB, const std::vector<Difference> &diffs)
{
    std::string s;
    for (const auto &d : diffs) {
        std::string what;
        if (d.section == "text")
            what = "text " + d.name + " (" + std::to_string(d.index) + ")";
        else if (d.section == "component")
            what = d.name == "(order)" ? "component order" : "component '" + d.name + "'";
        else if (d.section == "variable")
            what = d.name == "(order)" ? "variable order" : "variable " + d.name;
        else if (d.section == "setup_program")
            what = "setup program " + d.name;
        else
            what = d.name;
        if (!d.field.empty())
            what += " " + d.field;

        if (d.change == "added") {
            s += what + ": added (" + Show(d.after) + ")\n";
        } else if (d.change == "removed") {
            s += what + ": removed (" + Show(d.before) + ")\n";
        } else if (d.section == "text") {
            s += what + ":\n  - " + Show(d.before) + "\n  + " + Show(d.after) + "\n";
        } else {
            s += what + ": " + Show(d.before) + " -> " + Show(d.after) + "\n";
        }
    }
    if (diffs.empty())
        s += pathA + " and " + pathB + " hold the same package\n";
    else
        s += std::to_string(diffs.size()) + (diffs.size() == 1 ? " difference" : " differences") + " between " + pathA +
             " and " + pathB + "\n";
    return s;
}

std::string FormatDiffJson(const std::string &pathA, const std::string &pathB, const std::vector<Difference> &diffs)
{
    JsonWriter j;
    j.BeginObject();
    j.Key("old").String(pathA);
    j.Key("new").String(pathB);
    j.Key("identical").Bool(diffs.empty());
    j.Key("difference_count").Number(diffs.size());
    j.Key("differences").BeginArray();
    for (const auto &d : diffs) {
        j.BeginObject();
        j.Key("section").String(d.section);
        j.Key("name").String(d.name);
        if (!d.field.empty())
            j.Key("field").String(d.field);
        if (d.index >= 0)
            j.Key("index").Number(uint64_t(d.index));
        j.Key("change").String(d.change);
        j.Key("old");
        WriteValue(j, d.before);
        j.Key("new");
        WriteValue(j, d.after);
        j.EndObject();
    }
    j.EndArray();
    j.EndObject();
    return j.str();
}

}  // namespace velkor
