#include "cli/FileNames.h"

#include <cstdio>

namespace dwcli {

std::string printable(const std::string& text) {
    std::string result;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '\\') {
            result += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            result += escaped;
        }
    }
    return result;
}

FlexName splitFlexName(const std::string& argument) {
    const std::size_t dot = argument.find('.');
    if (dot == std::string::npos)
        return {argument, ""};
    return {argument.substr(0, dot), argument.substr(dot + 1)};
}

const dw::DirectoryEntry* findEntry(const std::vector<dw::DirectoryEntry>& entries,
                                    const FlexName& wanted) {
    for (const dw::DirectoryEntry& e : entries)
        if (e.isLive() && e.name() == wanted.name && e.ext() == wanted.ext)
            return &e;
    return nullptr;
}

} // namespace dwcli
