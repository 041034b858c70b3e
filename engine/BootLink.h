#pragma once

// Pointing the boot sector at the file to boot: the loaders this program writes (and the usual
// FLEX loaders) read the start link of the file they load from bytes 5 and 6 of track 0
// sector 1.

#include "engine/DiskImage.h"

#include <string>
#include <vector>

namespace dw {

// Sectors of a track that a loader selecting side 0 finds: half of a track whose sector count
// is that of two sides (20, 36 or 72: two sides of 10, 18 or 36), else all of them.
int firstSideSectors(int sectorsPerTrack);

struct BootLinkResult {
    Status status;
    std::vector<std::string> warnings; // the file may not boot as the user expects
};

// Writes the file's start link into bytes 5 and 6 of the boot sector, as one change. Refused,
// with nothing changed: a boot sector of zeros (no loader), and a chain the loader cannot
// follow to its end (a loop, a sector outside the image or on a second side). A file that is no
// FLEX binary with a transfer record gets a warning.
BootLinkResult linkBootFile(DiskImage& image, const DirectoryEntry& file);

} // namespace dw
