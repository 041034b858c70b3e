#pragma once

// Deleting a file: the entry is marked deleted in place and the file's chain is appended to the
// tail of the free chain. Nothing is written unless both chains are sound.

#include "engine/DiskImage.h"

#include <string>

namespace dw {

// Deletes the first live entry whose name and extension match byte for byte. NotFound, a
// damaged chain (Damaged) or a read-only image (ReadOnly) change nothing.
Status deleteFile(DiskImage& image, const std::string& name, const std::string& ext);

// The same steps for an entry whose slot is already known (the import's replacement). Reads the
// SIR afresh; `sirAfter` receives the SIR as written.
Status deleteEntryAt(DiskImage& image, std::uint32_t slotOffset, const DirectoryEntry& entry,
                     SystemInformationRecord& sirAfter);

} // namespace dw
