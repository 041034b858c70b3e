#pragma once

// Rebuilding the free chain: every data sector (track 1 and up) that no entry names and no
// directory sector holds joins it, in track and sector order, and the SIR's first free, last
// free and count are set to match. Files and the directory are left as they are; so are the
// sectors of entries after the directory's end and of cut chains, which stay out of the chain.

#include "engine/DiskImage.h"

#include <cstddef>
#include <string>
#include <vector>

namespace dw {

struct RepairPlan {
    SystemInformationRecord before;  // the SIR as found
    SystemInformationRecord after;   // the SIR the repair writes
    std::vector<SectorLink> chain;   // the new free chain, in order
    std::vector<SectorLink> added;   // its sectors that the old free chain did not reach
    std::vector<SectorLink> dropped; // sectors of the old free chain that are no free data sector
    // Sectors kept out of the chain only because an entry after the directory's end, or a
    // damaged entry, still names them (in no file's chain, they would otherwise be free).
    std::vector<SectorLink> kept;
    std::size_t relinked = 0;    // sectors whose link changes
    std::string oldChainProblem; // where the old free chain broke, if it did

    // False when the free chain already holds exactly the unowned sectors and the SIR agrees.
    bool needed = false;
};

// Works out the repair without writing anything. Refuses an image whose layout is unknown, one
// whose directory cannot be walked to its end, since the files past the damage would seem to own
// nothing, and one whose SIR's sector is also in another chain (Damaged).
Status planRepair(DiskImage& image, RepairPlan& plan);

// Writes the plan, which must come from planRepair within the same change (see
// DiskImage::beginChange), so that nothing moved in between.
Status applyRepair(DiskImage& image, const RepairPlan& plan);

// Copies the image, as it reads now, to a new file at `path` (never onto anything there) through
// the host-file writer, a slice at a time, with the image's permission bits.
Status copyImageTo(DiskImage& image, const std::string& path);

} // namespace dw
