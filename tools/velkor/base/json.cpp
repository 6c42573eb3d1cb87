// json.cpp -- the writer of json.h; text that is not UTF-8 is made so on the
// way out.
#include "json.h"

#include <cmath>

namespace velkor {

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
