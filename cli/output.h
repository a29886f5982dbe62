// Output for people (aligned tables, "name: value" lines) and for scripts (one JSON
// document on standard output).
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace cli {

// A document for scripts: its keys keep the order in which they were set.
using Json = nlohmann::ordered_json;

// The document on one line; bytes that are not UTF-8 become U+FFFD, so the text stays valid.
std::string JsonText(const Json &document);
// Writes the document and a newline to standard output.
void PrintJson(const Json &document);

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
