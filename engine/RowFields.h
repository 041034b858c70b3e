#pragma once

// The entry fields that export, viewing and deletion take from a file row's texts.

#include "engine/Format.h"
#include "engine/Texts.h"

#include <cstdint>
#include <string>

namespace dw {

struct EntryFields {
    std::string name;
    std::string ext;
    bool randomFlag = false;
    SectorLink startLink;
    std::uint16_t sectorCount = 0;
};

// Name and extension as shown; randomFlag when the R cell reads "Y"; the start link from
// "%03d-%03d" split at the first "-", each part's leading digits kept as one byte (low 8 bits);
// the count from "%6d", leading blanks allowed (low 16 bits). Text without digits reads as 0.
EntryFields parseRowFields(const RowTexts& row);

// The same fields straight from a directory entry.
EntryFields fieldsOf(const DirectoryEntry& entry);

// The leading decimal digits of text after blanks; 0 when there are none.
unsigned long leadingNumber(const std::string& text);

} // namespace dw
