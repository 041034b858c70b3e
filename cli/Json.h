#pragma once

// The --json documents: every one is an object carrying "format": "diskwright/1", the
// command, the image, "ok" and "errors" (docs/json.md describes them).

#include "engine/Format.h"

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>

namespace dwcli {

using Json = nlohmann::ordered_json;

inline constexpr const char* JsonFormat = "diskwright/1";

// A new document for `command` on `image`, "ok" true and no errors yet.
Json jsonDocument(const std::string& command, const std::string& image);

// Text from an image as a JSON string: its bytes read as Latin-1, so any byte survives and the
// output stays valid (bytes outside printable ASCII are written as \u00XX).
Json jsonText(const std::string& bytes);

// {"track": T, "sector": S}
Json jsonLink(dw::SectorLink link);

// A link under `key` as its display text ("001-002") and under `key` + "Link" as numbers.
void putLink(Json& object, const std::string& key, dw::SectorLink link);

// Sets "ok" and prints the document on one line.
void printDocument(std::ostream& out, Json& document, bool ok);

} // namespace dwcli
