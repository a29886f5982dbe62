// A small JSON reader: enough for settings profiles and for checking the documents the
// program prints.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace cli {

struct Json;
using JsonObject = std::map<std::string, Json>;
using JsonArray = std::vector<Json>;
struct Json {
    std::variant<std::nullptr_t, bool, double, std::string, JsonArray, JsonObject> value;

    bool IsObject() const { return std::holds_alternative<JsonObject>(value); }
    bool IsArray() const { return std::holds_alternative<JsonArray>(value); }
    bool IsNull() const { return std::holds_alternative<std::nullptr_t>(value); }
    // Checked access: throws std::runtime_error naming what is missing.
    const Json &operator[](const std::string &key) const;
    const Json &operator[](std::size_t index) const;
    std::size_t Size() const;
    double Number() const;
    int Int() const { return static_cast<int>(Number()); }
    const std::string &Str() const;
    bool Bool() const;
};

// Parses exactly one JSON document (with surrounding white space); nullopt when the text
// is not valid JSON, and then `error` says why ("number out of range", "not valid JSON").
std::optional<Json> ParseJson(const std::string &text, std::string *error = nullptr);

}  // namespace cli
