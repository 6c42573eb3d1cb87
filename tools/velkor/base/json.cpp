// json.cpp -- the writer of json.h and the repair of text that is not UTF-8.
#include "json.h"

#include <cmath>

namespace velkor {

std::string ValidUtf8(const std::string &s)
{
    static const char Replacement[] = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        uint8_t b = uint8_t(s[i]);
        size_t extra = b < 0x80 ? 0 : (b >= 0xC2 && b < 0xE0) ? 1 : (b >= 0xE0 && b < 0xF0) ? 2 : (b >= 0xF0 && b < 0xF5) ? 3 : 4;
        bool ok = extra < 4 && extra <= s.size() - i - 1;
        uint32_t c = extra == 0 ? b : (b & (0x3F >> extra));
        for (size_t k = 1; ok && k <= extra; ++k) {
            uint8_t cont = uint8_t(s[i + k]);
            ok = (cont & 0xC0) == 0x80;
            c = (c << 6) | (cont & 0x3F);
        }
        static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (ok && (c < least[extra] || c > 0x10FFFF))
            ok = false;
        if (ok && c >= 0xD800 && c < 0xE000) {
            out += Replacement;   // a surrogate written on its own: one character
            i += 3;
            continue;
        }
        if (!ok) {
            out += Replacement;
            ++i;
            continue;
        }
        out.append(s, i, extra + 1);
        i += extra + 1;
    }
    return out;
}

namespace {

Json Repaired(const Json &j)
{
    if (j.is_string())
        return ValidUtf8(j.get_ref<const std::string &>());
    if (j.is_array()) {
        Json a = Json::array();
        for (const auto &e : j)
            a.push_back(Repaired(e));
        return a;
    }
    if (j.is_object()) {
        Json o = Json::object();
        for (auto it = j.begin(); it != j.end(); ++it)
            o[ValidUtf8(it.key())] = Repaired(it.value());
        return o;
    }
    return j;
}

}  // namespace

std::string DumpJson(const Json &j)
{
    return Repaired(j).dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

Json DiagnosticJson(const Diagnostic &d)
{
    Json j = Json::object();
    j["file"] = d.file;
    j["line"] = d.line ? Json(d.line) : Json(nullptr);
    j["column"] = d.line ? Json(d.col ? d.col : 1) : Json(nullptr);
    j["severity"] = SeverityName(d.severity);
    j["check"] = d.check.empty() ? Json(nullptr) : Json(d.check);
    j["message"] = d.message;
    return j;
}

JsonWriter &JsonWriter::Real(double d)
{
    return Value(std::isfinite(d) ? Json(std::round(d * 10000) / 10000) : Json(nullptr));
}

Json &JsonWriter::Place(const Json &v)
{
    if (open_.empty()) {
        root_ = v;
        return root_;
    }
    Json &top = *open_.back();
    if (top.is_array()) {
        top.push_back(v);
        return top.back();
    }
    Json &slot = top[key_];
    slot = v;
    return slot;
}

}  // namespace velkor
