// json.h -- the --json outputs, built with nlohmann-json: a writer that
// is called in the order the output reads (objects, arrays, strings,
// integers, numbers, booleans, null), keeps keys in that order, and prints
// indented, valid UTF-8 whatever a package holds (any byte that is not
// UTF-8 becomes U+FFFD; control characters are escaped).
#pragma once

#include "diag.h"
#include "utf.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace velkor {

using Json = nlohmann::ordered_json;

// The document, indented, with a final line break.  Never throws for the
// text it holds.
std::string DumpJson(const Json &j);

// {"file", "line", "column", "severity", "check", "message"}; line and
// column are null for a place without lines.
Json DiagnosticJson(const Diagnostic &d);

class JsonWriter {
public:
    JsonWriter &BeginObject() { return Open(Json::object()); }
    JsonWriter &EndObject() { return Close(); }
    JsonWriter &BeginArray() { return Open(Json::array()); }
    JsonWriter &EndArray() { return Close(); }

    JsonWriter &Key(const std::string &k)
    {
        key_ = k;
        return *this;
    }
    JsonWriter &String(const std::string &s) { return Value(s); }
    JsonWriter &Number(uint64_t n) { return Value(n); }
    JsonWriter &Real(double d);   // four decimals, as the text output shows them
    JsonWriter &Bool(bool b) { return Value(b); }
    JsonWriter &Null() { return Value(nullptr); }
    JsonWriter &Value(const Json &v)
    {
        Place(v);
        return *this;
    }

    std::string str() const { return DumpJson(root_); }

private:
    Json &Place(const Json &v);
    JsonWriter &Open(const Json &empty)
    {
        open_.push_back(&Place(empty));
        return *this;
    }
    JsonWriter &Close()
    {
        if (!open_.empty())
            open_.pop_back();
        return *this;
    }

    Json root_;
    std::vector<Json *> open_;   // the containers still open, innermost last
    std::string key_;
};

}  // namespace velkor
