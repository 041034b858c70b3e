#pragma once

// Writing whole FLEX files into an open image, as they come from another image: the entry's
// fields and the bytes of its sectors, kept as they are (no text conversion). The copy between
// images and the window's drag and drop both go through here.

#include "engine/DiskImage.h"
#include "engine/FlexName.h"
#include "engine/SectorMap.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dw {

// A FLEX file as it goes from one image to another.
struct WholeFlexFile {
    // As the entry holds it: 1 to 8 bytes of name and 0 to 3 of extension, printable ASCII,
    // letter case kept.
    FlexName name;
    LocalDate date; // year, month and day are used
    // Non-zero for a random file, kept as it is (FLEX writes 2).
    std::uint8_t randomFlag = 0;
    // The 252-byte payloads of its chain in chain order, as a binary export reads them; a short
    // last sector is padded with zeros. Empty for a file of no sectors.
    std::vector<std::uint8_t> data;
};

struct WriteFileResult {
    Status status;
    std::string flexName; // "NAME.EXT"
    std::uint16_t sectors = 0;
    bool replaced = false;      // a file of that name was replaced
    bool directoryGrew = false; // a sector was taken from the free chain for the directory
};

// Writes files into one image, the map of the image kept from one file to the next (the next
// file's map is made again only when something else wrote to the image). Each write is one
// change of the image (inside a change of the caller's, it commits with that one).
//
// A write takes its sectors from the head of the free chain; when every directory slot is in
// use the directory grows first by one sector, taken from the head of the free chain, zeroed
// and linked at the directory's end. A random file's sector map (its first two sectors) is
// made anew for the chain the file gets, so that it names the file's data sectors in the image.
//
// Refused before anything is written, with the image unchanged: a read-only image (ReadOnly);
// a name an entry cannot hold (InvalidName); a name a live file holds, unless `replace`
// (Exists; the caller may ask and write again with `replace`); too few free sectors, counting
// those a replaced file gives back and the one a full directory needs (DiskFull); a random file
// whose new chain needs more runs than its sector map holds (DiskFull); damage in the
// directory, the free chain, the replaced file's chain or the records the write changes
// (Damaged).
class FileWriter {
public:
    explicit FileWriter(DiskImage& image);
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    WriteFileResult write(WholeFlexFile file, bool replace);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// One file, as FileWriter writes it.
WriteFileResult writeFile(DiskImage& image, WholeFlexFile file, bool replace);

// The live file `entry` of a map of `image` (made within the caller's hold of it) with its
// sectors' payloads. A chain that is not whole and the file's alone (see
// SectorMap::chainDamage) is refused (Damaged), so that only sound files are copied.
Status readWholeFile(DiskImage& image, const SectorMap& map, std::size_t entry, WholeFlexFile& out);

// The run bytes of a random file's sector map: two sectors of 84 runs of three bytes (track,
// sector, count) from data offset 0, naming the file's data sectors from its third on, in
// chain order. A run goes on across a track's end to the next track's sector 1 and counts at
// most 255 sectors; the runs after the last are zeros.
inline constexpr std::size_t SectorMapBytes = 2 * std::size_t{SectorDataSize};
inline constexpr std::size_t SectorMapRuns = SectorMapBytes / 3;

// The map of a file whose chain is `chain`, on tracks of `maxSector` sectors. False when it needs
// more than SectorMapRuns runs; `runs` then tells how many.
bool makeSectorMap(const std::vector<SectorLink>& chain, std::uint8_t maxSector,
                   std::vector<std::uint8_t>& map, std::size_t& runs);
// The data sectors a map names, up to its first run of count 0.
std::vector<SectorLink> sectorsOfMap(const std::uint8_t* map, std::uint8_t maxSector);

} // namespace dw
