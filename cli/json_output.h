// JSON output of the commands. Objects keep their keys in the order they
// are added; every text from the disk goes in through JsonText, which makes
// it valid UTF-8 first (nlohmann refuses anything else).
#pragma once

#include <string_view>

#include <nlohmann/json.hpp>

namespace ambrel::cli {

using Json = nlohmann::ordered_json;

// A JSON string holding `text` as valid UTF-8 (see ValidUtf8).
Json JsonText(std::string_view text);

// Writes the document on one line of stdout.
void PrintJson(const Json& document);

}  // namespace ambrel::cli
