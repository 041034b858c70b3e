#pragma once

#include <string>

namespace dwcli {

// A JSON string literal. FLEX names may hold any byte: bytes outside printable ASCII are
// written as \u00XX (read as Latin-1), so the output is always valid JSON.
std::string jsonString(const std::string& text);

} // namespace dwcli
