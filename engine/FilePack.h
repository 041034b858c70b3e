#pragma once

// FLEX files packed into one block of bytes, to be carried to another program (the window's
// drag and drop between two images): each file's entry fields and the data bytes of its chain.
// The block comes from outside, so reading it back checks every length and field.
//
// Layout, numbers big-endian as on the diskette:
//   "DWFX"  format version (1 byte, 1)  file count (4 bytes)
//   then for each file:
//     name (8 bytes) extension (3 bytes), each NUL-padded and not empty where a name must be
//     flags (1 byte: bit 0 the random flag, the others 0)
//     year (2 bytes, the calendar year) month (1 byte) day (1 byte)
//     sector count (2 bytes), then 252 data bytes for each sector, in chain order
//   and nothing after the last file.

#include "engine/Extract.h"
#include "engine/Import.h"
#include "engine/RowFields.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace dw {

inline constexpr std::uint8_t FilePackVersion = 1;

struct PackedFile {
    std::string name; // 1 to 8 bytes
    std::string ext;  // 0 to 3 bytes
    bool random = false;
    int year = 0; // calendar year, 0 to 65535
    int month = 0;
    int day = 0;
    std::vector<std::uint8_t> data; // SectorDataSize bytes for each sector

    friend bool operator==(const PackedFile&, const PackedFile&) = default;
};

// Names longer than their fields are cut, and data is packed in whole sectors (at most 65535).
std::vector<std::uint8_t> packFiles(std::span<const PackedFile> files);

// Reads a block back; ReadFailed, with words for what is wrong, for anything that is not a
// whole block of this version.
Status unpackFiles(std::span<const std::uint8_t> block, std::vector<PackedFile>& out);

// The file a row names, its data read as the binary export reads it, and its date from the
// row's "%04d-%02d-%02d" text. A chain that ends early leaves what was read and sets
// chainEndedEarly, as an export does.
ExtractResult readPackedFile(DiskImage& image, const EntryFields& file, const std::string& dateText,
                             PackedFile& out);

// Writes dropped files into `image` with their names, dates and random flags, each as one change
// (inside a change of the caller's, they commit with it). A name the image already holds brings
// Import's replace question; a file that cannot be written is told and the next one goes on.
void writePackedFiles(DiskImage& image, std::span<const PackedFile> files,
                      ImportQuestions& questions);

} // namespace dw
