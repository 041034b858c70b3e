#include "cli/FileNames.h"

namespace dwcli {

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
