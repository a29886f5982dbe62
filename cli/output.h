// Output for people (aligned tables, "name: value" lines) and for scripts (one JSON
// document on standard output).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// Builds one JSON document. Commas and nesting are tracked, so a caller only says what
// comes next; strings are taken as UTF-8 and escaped.
class JsonWriter {
public:
    JsonWriter &BeginObject();
    JsonWriter &EndObject();
    JsonWriter &BeginArray();
    JsonWriter &EndArray();
    JsonWriter &Key(const std::string &key);
    JsonWriter &String(const std::string &value);
    JsonWriter &Number(int64_t value);
    // A number with one decimal place.
    JsonWriter &Decimal(double value);
    JsonWriter &Bool(bool value);
    JsonWriter &Null();
    // Key and value at once.
    JsonWriter &Field(const std::string &key, const std::string &value) { return Key(key).String(value); }
    JsonWriter &Field(const std::string &key, const char *value) { return Key(key).String(value); }
    JsonWriter &Field(const std::string &key, int64_t value) { return Key(key).Number(value); }
    JsonWriter &Field(const std::string &key, int value) { return Key(key).Number(value); }
    JsonWriter &Field(const std::string &key, unsigned value) { return Key(key).Number(value); }
    JsonWriter &Field(const std::string &key, bool value) { return Key(key).Bool(value); }

    const std::string &Text() const { return text_; }
    // Writes the document and a newline to standard output.
    void Print() const;

private:
    void BeforeValue();
    std::string text_;
    std::vector<bool> first_;  // per open container: nothing written in it yet
    bool afterKey_ = false;
};

// A JSON string; bytes that are not UTF-8 become U+FFFD, so the document stays valid.
std::string JsonEscape(const std::string &utf8);

bool ValidUtf8(const std::string &text);
// A path as text: as it is when it is UTF-8, else read as GBK (the encoding of names
// that come from Windows machines of this network).
std::string DisplayPath(const std::string &path);

// Columns as wide as their widest cell (East Asian characters count twice), two spaces
// apart, a header line first.
void PrintTable(const std::vector<std::string> &headers,
                const std::vector<std::vector<std::string>> &rows);

// "name:  value" lines, the values aligned.
void PrintFields(const std::vector<std::pair<std::string, std::string>> &fields);

// Terminal columns `utf8` takes.
std::size_t DisplayWidth(const std::string &utf8);

}  // namespace cli
