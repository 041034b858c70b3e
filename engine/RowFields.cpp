#include "engine/RowFields.h"

namespace dw {

unsigned long leadingNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    unsigned long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        // Saturate rather than wrap: only the low bits are kept by the callers anyway.
        if (value < 100000000UL)
            value = value * 10 + static_cast<unsigned long>(text[i] - '0');
    }
    return value;
}

EntryFields parseRowFields(const RowTexts& row) {
    EntryFields f;
    f.name = row[0];
    f.ext = row[1];
    f.randomFlag = row[2] == "Y";
    const std::string& start = row[4];
    const std::size_t dash = start.find('-');
    const std::string trackText = start.substr(0, dash);
    const std::string sectorText = dash == std::string::npos ? "" : start.substr(dash + 1);
    f.startLink.track = static_cast<std::uint8_t>(leadingNumber(trackText) & 0xFF);
    f.startLink.sector = static_cast<std::uint8_t>(leadingNumber(sectorText) & 0xFF);
    f.sectorCount = static_cast<std::uint16_t>(leadingNumber(row[6]) & 0xFFFF);
    return f;
}

EntryFields fieldsOf(const DirectoryEntry& entry) {
    return {entry.name(), entry.ext(), entry.randomFlag != 0, entry.startLink, entry.sectorCount};
}

} // namespace dw
