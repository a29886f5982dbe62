#include "cli/json_reader.h"

#include <cctype>
#include <cstring>
#include <stdexcept>

namespace cli {


const Json &Json::operator[](const std::string &key) const {
    const auto *o = std::get_if<JsonObject>(&value);
    if (!o) throw std::runtime_error("not an object, looking for " + key);
    const auto it = o->find(key);
    if (it == o->end()) throw std::runtime_error("no key " + key);
    return it->second;
}

const Json &Json::operator[](std::size_t index) const {
    const auto *a = std::get_if<JsonArray>(&value);
    if (!a || index >= a->size()) throw std::runtime_error("no element " + std::to_string(index));
    return (*a)[index];
}

std::size_t Json::Size() const {
    if (const auto *a = std::get_if<JsonArray>(&value)) return a->size();
    if (const auto *o = std::get_if<JsonObject>(&value)) return o->size();
    throw std::runtime_error("not a container");
}

double Json::Number() const {
    if (const auto *d = std::get_if<double>(&value)) return *d;
    throw std::runtime_error("not a number");
}

const std::string &Json::Str() const {
    if (const auto *s = std::get_if<std::string>(&value)) return *s;
    throw std::runtime_error("not a string");
}

bool Json::Bool() const {
    if (const auto *b = std::get_if<bool>(&value)) return *b;
    throw std::runtime_error("not a bool");
}

namespace {

class Parser {
public:
    explicit Parser(const std::string &t) : t_(t) {}

    std::optional<Json> Document() {
        std::optional<Json> v = Value();
        Space();
        if (!v || i_ != t_.size()) return std::nullopt;
        return v;
    }
    const std::string &Error() const { return error_; }

private:
    // A character of the Basic Multilingual Plane; halves of a surrogate pair stand as '?'.
    static void AppendUtf8(std::string &s, unsigned cp) {
        if (cp < 0x80) {
            s += static_cast<char>(cp);
        } else if (cp < 0x800) {
            s += static_cast<char>(0xC0 | (cp >> 6));
            s += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            s += '?';
        } else {
            s += static_cast<char>(0xE0 | (cp >> 12));
            s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    void Space() {
        while (i_ < t_.size() && std::strchr(" \t\r\n", t_[i_])) ++i_;
    }
    bool Eat(char c) {
        Space();
        if (i_ < t_.size() && t_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    bool Word(const char *w) {
        const std::size_t n = std::strlen(w);
        if (t_.compare(i_, n, w) != 0) return false;
        i_ += n;
        return true;
    }
    std::optional<std::string> String() {
        if (!Eat('"')) return std::nullopt;
        std::string s;
        while (i_ < t_.size()) {
            const unsigned char c = static_cast<unsigned char>(t_[i_++]);
            if (c == '"') return s;
            if (c < 0x20) return std::nullopt;
            if (c != '\\') {
                s += static_cast<char>(c);
                continue;
            }
            if (i_ >= t_.size()) return std::nullopt;
            const char e = t_[i_++];
            switch (e) {
            case '"': case '\\': case '/': s += e; break;
            case 'n': s += '\n'; break;
            case 't': s += '\t'; break;
            case 'r': s += '\r'; break;
            case 'b': s += '\b'; break;
            case 'f': s += '\f'; break;
            case 'u': {
                if (i_ + 4 > t_.size()) return std::nullopt;
                unsigned cp = 0;
                for (int k = 0; k < 4; ++k) {
                    const char h = t_[i_++];
                    if (!std::isxdigit(static_cast<unsigned char>(h))) return std::nullopt;
                    cp = cp * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(h))
                                                             ? h - '0'
                                                             : std::tolower(static_cast<unsigned char>(h)) - 'a' + 10);
                }
                AppendUtf8(s, cp);
                break;
            }
            default: return std::nullopt;
            }
        }
        return std::nullopt;
    }
    std::optional<Json> Value() {
        // Nesting beyond any document we read is refused rather than run off the stack.
        if (++depth_ > kMaxDepth) return std::nullopt;
        std::optional<Json> v = Nested();
        --depth_;
        return v;
    }

    std::optional<Json> Nested() {
        Space();
        if (i_ >= t_.size()) return std::nullopt;
        const char c = t_[i_];
        if (c == '{') {
            ++i_;
            JsonObject o;
            if (Eat('}')) return Json{o};
            do {
                auto k = String();
                if (!k || !Eat(':')) return std::nullopt;
                auto v = Value();
                if (!v) return std::nullopt;
                o[*k] = *v;
            } while (Eat(','));
            if (!Eat('}')) return std::nullopt;
            return Json{o};
        }
        if (c == '[') {
            ++i_;
            JsonArray a;
            if (Eat(']')) return Json{a};
            do {
                auto v = Value();
                if (!v) return std::nullopt;
                a.push_back(*v);
            } while (Eat(','));
            if (!Eat(']')) return std::nullopt;
            return Json{a};
        }
        if (c == '"') {
            auto s = String();
            if (!s) return std::nullopt;
            return Json{*s};
        }
        if (Word("true")) return Json{true};
        if (Word("false")) return Json{false};
        if (Word("null")) return Json{nullptr};
        const std::size_t start = i_;
        if (i_ < t_.size() && t_[i_] == '-') ++i_;
        while (i_ < t_.size() && (std::isdigit(static_cast<unsigned char>(t_[i_])) || std::strchr(".eE+-", t_[i_]))) ++i_;
        if (start == i_) return std::nullopt;
        try {
            std::size_t used = 0;
            const double d = std::stod(t_.substr(start, i_ - start), &used);
            if (used != i_ - start) return std::nullopt;
            return Json{d};
        } catch (const std::out_of_range &) {
            error_ = "number out of range";
            return std::nullopt;
        } catch (const std::exception &) {
            return std::nullopt;
        }
    }

    static constexpr int kMaxDepth = 64;
    const std::string &t_;
    std::size_t i_ = 0;
    int depth_ = 0;
    std::string error_;  // why the text is no document, where more can be said than that
};

}  // namespace

std::optional<Json> ParseJson(const std::string &text, std::string *error) {
    Parser parser(text);
    std::optional<Json> doc = parser.Document();
    if (!doc && error) *error = parser.Error().empty() ? "not valid JSON" : parser.Error();
    return doc;
}

}  // namespace cli
