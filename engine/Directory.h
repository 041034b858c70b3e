#pragma once

// Walking the directory chain from track 0 sector 5, and the listing built on it.

#include "engine/DiskImage.h"

#include <cstdint>
#include <functional>
#include <set>
#include <vector>

namespace dw {

constexpr SectorLink FirstDirectorySector{0, 5};

struct DirectorySlot {
    std::uint32_t offset = 0; // byte offset of the slot in the image
    SectorLink sector;        // the directory sector holding it
    int index = 0;            // 0..9 within that sector
    DirectoryEntry entry;
};

enum class SlotAction {
    Continue,   // go on with the next slot
    SkipSector, // leave the rest of this sector and go on with the next directory sector
    Stop,       // end the walk
};

// The slots in directory order, one at a time: each sector's header link is taken before its
// slots are read; a slot whose name byte 0 is 0 is returned and then ends the walk; a sector
// byte of 0 ends the chain. The walk is bounded: a sector seen before, or a link outside the
// image, ends it with Damaged.
class DirectoryWalk {
public:
    explicit DirectoryWalk(DiskImage& image) : image_(image) {}

    // False at the end of the directory or on damage (see status).
    bool next(DirectorySlot& slot);
    // Leaves the rest of the current sector.
    void skipSector() { index_ = EntriesPerSector; }
    // Once the slot that ended the walk holds an entry, the directory goes on after it.
    void resume() { atEnd_ = false; }
    const Status& status() const { return status_; }

private:
    DiskImage& image_;
    std::set<SectorLink> visited_;
    SectorLink pending_ = FirstDirectorySector; // the next sector to read
    SectorLink sector_;                         // the sector in bytes_
    Sector bytes_{};
    int index_ = EntriesPerSector; // the next slot of bytes_
    bool atEnd_ = false;
    Status status_;
};

// Visits the slots in directory order: each sector's header link is taken before its slots
// are read; a slot whose name byte 0 is 0 is visited and then ends the whole walk; a sector
// byte of 0 ends the chain. Deleted slots are visited too. The walk is bounded: a sector seen
// before, or a link outside the image, ends it with Damaged and the slots visited stay visited.
Status walkDirectory(DiskImage& image,
                     const std::function<SlotAction(const DirectorySlot&)>& visit);

struct Listing {
    SystemInformationRecord sir;
    std::vector<DirectoryEntry> entries; // live entries in directory order
};

// Reads the SIR and the live entries, holding the image shared. A BadImage or Busy status
// leaves `out` empty; a Damaged status keeps the entries found before the damage. Never writes.
Status readListing(DiskImage& image, Listing& out);

} // namespace dw
