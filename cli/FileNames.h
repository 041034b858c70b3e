#pragma once

// Finding the files that commands name as NAME.EXT.

#include "engine/Format.h"

#include <string>
#include <vector>

namespace dwcli {

struct FlexName {
    std::string name;
    std::string ext;
    std::string text() const { return name + "." + ext; }
};

// Text that came from an image, made safe for a terminal: bytes outside printable ASCII
// are shown as \xNN, so a hostile name cannot send control sequences.
std::string printable(const std::string& text);

// Splits at the first "." (FLEX names hold none); no "." means an empty extension.
FlexName splitFlexName(const std::string& argument);

// The first live entry whose name and extension match byte for byte, or nullptr.
const dw::DirectoryEntry* findEntry(const std::vector<dw::DirectoryEntry>& entries,
                                    const FlexName& wanted);

} // namespace dwcli
