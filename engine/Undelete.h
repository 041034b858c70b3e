#pragma once

// Deleted entries, and bringing a deleted file back. Deletion overwrites the first byte of the
// name (0xFF) and appends the file's chain to the free chain, leaving its sectors as they were;
// as long as no later file took them, the chain can leave the free chain again.

#include "engine/DiskImage.h"

#include <string>
#include <vector>

namespace dw {

struct DeletedFile {
    DirectoryEntry entry;     // as its slot holds it: bit 7 of the name's first byte set
    std::uint32_t offset = 0; // the slot's byte offset in the image, which undeleteFile takes
    // Every sector of its chain is still in the free chain, in the chain's own order, and still
    // holds what the file left: record numbers 1, 2, 3 ... of a sequential file, or a random
    // file's sector map naming its data sectors; and no other deleted entry claims them.
    bool recoverable = false;
    std::string reason; // why not, to follow "NAME.EXT cannot come back: "
};

// A deleted entry's name as shown: its overwritten first character as "?" ("?STROID").
std::string deletedName(const DirectoryEntry& entry);

// The deleted entries of the directory (up to the slot that ends it), in directory order, each
// judged. A damaged directory keeps the entries found before the damage and returns Damaged.
Status listDeleted(DiskImage& image, std::vector<DeletedFile>& out);

// Brings back the recoverable deleted entry at `offset` as `newName` ("NAME.EXT", upper-cased):
// the entry is restored under that name, its sectors leave the free chain (re-linked around
// them) and the SIR counts them no more; one change of the image. Refused, with the image
// unchanged: a read-only image (ReadOnly), no deleted entry there (NotFound), a name outside the
// FLEX rules (InvalidName) or that a live file holds (Exists), a file that is not recoverable,
// or damage in the directory or the records the change writes (Damaged).
Status undeleteFile(DiskImage& image, std::uint32_t offset, const std::string& newName);

} // namespace dw
