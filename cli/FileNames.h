#pragma once

// Finding the files that commands name: "NAME.EXT" in any letter case, or a pattern with
// "*", "?" or "[...]" (fnmatch rules over "NAME.EXT", letter case ignored).

#include "engine/FlexName.h"
#include "engine/Format.h"

#include <string>
#include <vector>

namespace dwcli {

// Text that came from an image, made safe for a terminal: bytes outside printable ASCII
// are shown as \xNN, so a hostile name cannot send control sequences.
std::string printable(const std::string& text);

// The entry's name as the engine's FlexName, and as "NAME.EXT" safe for a terminal.
dw::FlexName flexName(const dw::DirectoryEntry& entry);
std::string shownName(const dw::DirectoryEntry& entry);

bool isPattern(const std::string& argument);
// Whether "NAME.EXT" text is what `argument` names, as fnmatch matches it with letter case
// ignored (without * ? or [...]: the same text).
bool nameMatches(const std::string& argument, const std::string& text);

struct Selection {
    std::vector<const dw::DirectoryEntry*>
        files;                          // each once, in the order the arguments found them
    std::vector<std::string> unmatched; // arguments that found nothing
    bool patterns = false;              // some argument was a pattern
};

// A name without a dot means an empty extension ("LIST" is "LIST."); it finds the first live
// entry of exactly that name, else the first that differs only in letter case. A pattern finds
// every live entry it matches, in directory order ("*" alone matches every file).
Selection selectFiles(const std::vector<dw::DirectoryEntry>& entries,
                      const std::vector<std::string>& arguments);

// The message for an argument that found nothing.
std::string unmatchedText(const std::string& argument);

} // namespace dwcli
