#pragma once

// The texts the listing shows: the volume statics and the seven cells of a file row. The
// window and the command-line tool both show exactly these, and export, viewing and deletion
// read the row texts back.

#include "engine/Format.h"

#include <array>
#include <string>

namespace dw {

constexpr int ColumnCount = 7;

struct ColumnSpec {
    const char* title;
    int width; // pixels in the window's list
};

inline constexpr std::array<ColumnSpec, ColumnCount> FileColumns{{
    {"FileName  ", 80},
    {"Ext  ", 39},
    {"R", 20},
    {"Date", 90},
    {"Start    ", 53},
    {"End      ", 53},
    {"Count", 50},
}};

using RowTexts = std::array<std::string, ColumnCount>;

RowTexts rowTexts(const DirectoryEntry& entry);

std::string volumeLabelText(const SystemInformationRecord& sir);  // "%s [%d]"
std::string creationDateText(const SystemInformationRecord& sir); // "%04d-%02d-%02d"
std::string remainingSectorsText(int freeSectors);                // "%6d"
std::string fileCountText(int files);                             // "%5d"

} // namespace dw
