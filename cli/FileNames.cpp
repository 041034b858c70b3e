#include "cli/FileNames.h"

#include <algorithm>
#include <cstdio>
#include <fnmatch.h>

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

dw::FlexName flexName(const dw::DirectoryEntry& entry) {
    return {entry.name(), entry.ext()};
}

std::string shownName(const dw::DirectoryEntry& entry) {
    return printable(flexName(entry).text());
}

bool isPattern(const std::string& argument) {
    return argument.find_first_of("*?[") != std::string::npos;
}

bool nameMatches(const std::string& argument, const std::string& text) {
    // Names may hold NUL-free bytes of any value; fnmatch takes them as they are.
    return fnmatch(argument.c_str(), text.c_str(), FNM_CASEFOLD) == 0;
}

namespace {

void add(Selection& selection, const dw::DirectoryEntry* entry) {
    if (std::find(selection.files.begin(), selection.files.end(), entry) == selection.files.end())
        selection.files.push_back(entry);
}

const dw::DirectoryEntry* findNamed(const std::vector<dw::DirectoryEntry>& entries,
                                    std::string wanted) {
    if (wanted.find('.') == std::string::npos)
        wanted += '.';
    const dw::DirectoryEntry* folded = nullptr;
    for (const dw::DirectoryEntry& e : entries) {
        if (!e.isLive())
            continue;
        const std::string text = flexName(e).text();
        if (text == wanted)
            return &e;
        if (!folded && dw::upperCased(text) == dw::upperCased(wanted))
            folded = &e;
    }
    return folded;
}

} // namespace

Selection selectFiles(const std::vector<dw::DirectoryEntry>& entries,
                      const std::vector<std::string>& arguments) {
    Selection selection;
    for (const std::string& argument : arguments) {
        if (!isPattern(argument)) {
            if (const dw::DirectoryEntry* entry = findNamed(entries, argument))
                add(selection, entry);
            else
                selection.unmatched.push_back(argument);
            continue;
        }
        selection.patterns = true;
        bool found = false;
        for (const dw::DirectoryEntry& e : entries) {
            if (e.isLive() && nameMatches(argument, flexName(e).text())) {
                add(selection, &e);
                found = true;
            }
        }
        if (!found)
            selection.unmatched.push_back(argument);
    }
    return selection;
}

std::string unmatchedText(const std::string& argument) {
    if (isPattern(argument))
        return "no file matches '" + printable(argument) + "'";
    return printable(argument) + ": no such file on the disk image";
}

} // namespace dwcli
