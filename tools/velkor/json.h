// json.h -- a small JSON writer for the --json outputs (objects, arrays,
// strings, integers, numbers, booleans, null), indented for reading.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace velkor {

class JsonWriter {
public:
    JsonWriter &BeginObject() { return Open('{'); }
    JsonWriter &EndObject() { return Close('}'); }
    JsonWriter &BeginArray() { return Open('['); }
    JsonWriter &EndArray() { return Close(']'); }

    JsonWriter &Key(const std::string &k)
    {
        Separate();
        Quote(k);
        out_ += ": ";
        afterKey_ = true;
        return *this;
    }
    JsonWriter &String(const std::string &s) { Value(); Quote(s); return *this; }
    JsonWriter &Number(uint64_t n) { Value(); out_ += std::to_string(n); return *this; }
    JsonWriter &Real(double d)
    {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.4f", d);
        Value();
        out_ += buf;
        return *this;
    }
    JsonWriter &Bool(bool b) { Value(); out_ += b ? "true" : "false"; return *this; }
    JsonWriter &Null() { Value(); out_ += "null"; return *this; }

    std::string str() const { return out_ + "\n"; }

private:
    void Indent() { out_ += "\n" + std::string(2 * first_.size(), ' '); }
    void Separate()
    {
        if (!first_.empty()) {
            if (!first_.back())
                out_ += ",";
            first_.back() = false;
            Indent();
        }
    }
    void Value()
    {
        if (afterKey_)
            afterKey_ = false;
        else
            Separate();
    }
    JsonWriter &Open(char c)
    {
        Value();
        out_ += c;
        first_.push_back(true);
        return *this;
    }
    JsonWriter &Close(char c)
    {
        bool empty = first_.back();
        first_.pop_back();
        if (!empty)
            Indent();
        out_ += c;
        return *this;
    }
    void Quote(const std::string &s)
    {
        out_ += '"';
        for (unsigned char c : s) {
            switch (c) {
            case '"': out_ += "\\\""; break;
            case '\\': out_ += "\\\\"; break;
            case '\n': out_ += "\\n"; break;
            case '\r': out_ += "\\r"; break;
            case '\t': out_ += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out_ += buf;
                } else {
                    out_ += char(c);
                }
            }
        }
        out_ += '"';
    }

    std::string out_;
    std::vector<bool> first_;
    bool afterKey_ = false;
};

}  // namespace velkor
