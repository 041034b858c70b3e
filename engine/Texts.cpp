#include "engine/Texts.h"

#include <cstdio>

namespace dw {

namespace {
std::string formatInt(const char* format, int value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}
} // namespace

RowTexts rowTexts(const DirectoryEntry& e) {
    return {e.name(),
            e.ext(),
            e.randomFlag != 0 ? "Y" : " ",
            dateText(e.year, e.month, e.day),
            linkText(e.startLink),
            linkText(e.endLink),
            formatInt("%6d", e.sectorCount)};
}

std::string volumeLabelText(const SystemInformationRecord& sir) {
    return sir.label() + " [" + std::to_string(sir.volumeNumber) + "]";
}

std::string creationDateText(const SystemInformationRecord& sir) {
    return dateText(sir.creationYear, sir.creationMonth, sir.creationDay);
}

std::string remainingSectorsText(int freeSectors) {
    return formatInt("%6d", freeSectors);
}

std::string fileCountText(int files) {
    return formatInt("%5d", files);
}

} // namespace dw
