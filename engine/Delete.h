#pragma once

// Deleting a file: the entry is marked deleted in place and the file's chain is appended to the
// tail of the free chain. Nothing is written unless the file's chain, the free chain and the
// records the deletion rewrites are all sound and owned by them alone.

#include "engine/DiskImage.h"
#include "engine/SectorMap.h"

#include <string>

namespace dw {

// Deletes the first live entry whose name and extension match byte for byte. NotFound, damage
// (Damaged) or a read-only image (ReadOnly) change nothing.
Status deleteFile(DiskImage& image, const std::string& name, const std::string& ext);

// The same steps for an entry of a map made within the running change (the import's
// replacement); the map follows what was written.
Status deleteEntry(DiskImage& image, SectorMap& map, std::size_t entry);

// How a refusal for free-chain damage ends: what mends it.
extern const char* const RepairHint;

} // namespace dw
