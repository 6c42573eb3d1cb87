// minijson.h -- a strict little JSON reader for checking the shape of
// velkor's --json output: a parse that fails means the output is not JSON.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
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

class Parser {
public:
    explicit Parser(const std::string &text) : s_(text) {}

    Value Document()
    {
        Value v = Parse();
        Blank();
        if (i_ != s_.size())
            Fail("text after the value");
        return v;
    }

private:
    [[noreturn]] void Fail(const std::string &what) const
    {
        throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(i_));
    }
    void Blank()
    {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t'))
            ++i_;
    }
    bool Take(const char *word)
    {
        size_t n = std::char_traits<char>::length(word);
        if (s_.compare(i_, n, word) != 0)
            return false;
        i_ += n;
        return true;
    }
    void Expect(char c)
    {
        Blank();
        if (i_ >= s_.size() || s_[i_] != c)
            Fail(std::string("expected '") + c + "'");
        ++i_;
    }
    std::string Str()
    {
        Expect('"');
        std::string out;
        while (true) {
            if (i_ >= s_.size())
                Fail("unterminated string");
            char c = s_[i_++];
            if (c == '"')
                return out;
            if (static_cast<unsigned char>(c) < 0x20)
                Fail("control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size())
                Fail("unterminated escape");
            char e = s_[i_++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': {
                if (i_ + 4 > s_.size())
                    Fail("short \\u escape");
                unsigned v = std::stoul(s_.substr(i_, 4), nullptr, 16);
                i_ += 4;
                if (v >= 0x80)
                    Fail("\\u escape beyond ASCII (velkor writes UTF-8)");
                out += char(v);
                break;
            }
            default: Fail("bad escape");
            }
        }
    }
    Value Parse()
    {
        Blank();
        if (i_ >= s_.size())
            Fail("no value");
        Value v;
        char c = s_[i_];
        if (c == '{') {
            ++i_;
            v.kind = Value::Object;
            Blank();
            if (i_ < s_.size() && s_[i_] == '}') {
                ++i_;
                return v;
            }
            while (true) {
                std::string key = Str();
                Expect(':');
                if (v.object.count(key))
                    Fail("repeated key '" + key + "'");
                v.object[key] = Parse();
                Blank();
                if (i_ < s_.size() && s_[i_] == ',') {
                    ++i_;
                    continue;
                }
                Expect('}');
                return v;
            }
        }
        if (c == '[') {
            ++i_;
            v.kind = Value::Array;
            Blank();
            if (i_ < s_.size() && s_[i_] == ']') {
                ++i_;
                return v;
            }
            while (true) {
                v.array.push_back(Parse());
                Blank();
                if (i_ < s_.size() && s_[i_] == ',') {
                    ++i_;
                    continue;
                }
                Expect(']');
                return v;
            }
        }
        if (c == '"') {
            v.kind = Value::String;
            v.string = Str();
            return v;
        }
        if (Take("true")) {
            v.kind = Value::Bool;
            v.boolean = true;
            return v;
        }
        if (Take("false")) {
            v.kind = Value::Bool;
            return v;
        }
        if (Take("null"))
            return v;
        size_t start = i_;
        if (i_ < s_.size() && s_[i_] == '-')
            ++i_;
        while (i_ < s_.size() && ((s_[i_] >= '0' && s_[i_] <= '9') || s_[i_] == '.' || s_[i_] == 'e' ||
                                  s_[i_] == 'E' || s_[i_] == '+' || s_[i_] == '-'))
            ++i_;
        if (start == i_)
            Fail("unexpected character");
        v.kind = Value::Number;
        v.number = std::stod(s_.substr(start, i_ - start));
        return v;
    }

    const std::string &s_;
    size_t i_ = 0;
};

inline Value Parse(const std::string &text) { return Parser(text).Document(); }

}  // namespace minijson
