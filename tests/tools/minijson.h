// minijson.h -- velkor's --json output read back for the tests, strictly:
// nlohmann-json's parser (which refuses anything but JSON in UTF-8), plus
// what velkor promises beyond JSON: no key repeated within an object, and
// no \u escape beyond ASCII (it writes UTF-8 as it is).  A parse that fails
// means the output is not what velkor should write.
#pragma once

#include <nlohmann/json.hpp>

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace minijson {

struct Value {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<Value> array;
    std::map<std::string, Value> object;

    bool Has(const std::string &key) const { return kind == Object && object.count(key) != 0; }
    const Value &operator[](const std::string &key) const
    {
        auto it = object.find(key);
        if (kind != Object || it == object.end())
            throw std::runtime_error("no key '" + key + "'");
        return it->second;
    }
    const Value &operator[](size_t i) const
    {
        if (kind != Array || i >= array.size())
            throw std::runtime_error("no element " + std::to_string(i));
        return array[i];
    }
    size_t size() const { return kind == Array ? array.size() : object.size(); }
};

// Refuses a \u escape of anything beyond ASCII inside a string.
inline void CheckEscapes(const std::string &s)
{
    bool inString = false;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '"') {
            inString = !inString;
        } else if (inString && s[i] == '\\' && i + 1 < s.size()) {
            if (s[++i] == 'u' && i + 4 < s.size() && std::stoul(s.substr(i + 1, 4), nullptr, 16) >= 0x80)
                throw std::runtime_error("JSON: \\u escape beyond ASCII (velkor writes UTF-8) at offset " +
                                         std::to_string(i - 1));
        }
    }
}

inline Value Convert(const nlohmann::json &j)
{
    Value v;
    if (j.is_boolean()) {
        v.kind = Value::Bool;
        v.boolean = j.get<bool>();
    } else if (j.is_number()) {
        v.kind = Value::Number;
        v.number = j.get<double>();
    } else if (j.is_string()) {
        v.kind = Value::String;
        v.string = j.get<std::string>();
    } else if (j.is_array()) {
        v.kind = Value::Array;
        for (const auto &e : j)
            v.array.push_back(Convert(e));
    } else if (j.is_object()) {
        v.kind = Value::Object;
        for (auto it = j.begin(); it != j.end(); ++it)
            v.object[it.key()] = Convert(it.value());
    }
    return v;
}

inline Value Parse(const std::string &text)
{
    CheckEscapes(text);
    std::vector<std::set<std::string>> keys;   // of each object open
    auto watch = [&](int, nlohmann::json::parse_event_t event, nlohmann::json &parsed) {
        using Event = nlohmann::json::parse_event_t;
        if (event == Event::object_start)
            keys.emplace_back();
        else if (event == Event::object_end)
            keys.pop_back();
        else if (event == Event::key && !keys.back().insert(parsed.get<std::string>()).second)
            throw std::runtime_error("JSON: repeated key '" + parsed.get<std::string>() + "'");
        return true;
    };
    try {
        return Convert(nlohmann::json::parse(text, watch));
    } catch (const nlohmann::json::exception &e) {
        throw std::runtime_error(std::string("JSON: ") + e.what());
    }
}

}  // namespace minijson
