#pragma once

// The rollback journal beside an image (IMAGE-journal): the original bytes of everything a
// change is about to write, made durable before the image is touched and removed once the
// changed image is. A journal found later means a change was interrupted: its records put the
// image back as it was. A journal cut short was never acted on, since the image is written
// only after the journal is whole on disk.

#include "engine/Status.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dw {

struct JournalRecord {
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> bytes;
};

std::string journalPathFor(const std::string& imagePath);

// Writes the journal whole, puts it on stable storage, and makes its name durable too.
Status writeJournal(const std::string& path, const std::string& imagePath, std::uint64_t imageSize,
                    const std::vector<JournalRecord>& records);

enum class JournalState {
    None,       // there is no journal
    Complete,   // every record is there and checked: the image must be put back
    Incomplete, // cut short, or made for an image of another length: never acted on
};

// Reads the journal of an image of `imageSize` bytes. Fails only when a journal exists but
// cannot be read.
Status readJournal(const std::string& path, std::uint64_t imageSize, JournalState& state,
                   std::vector<JournalRecord>& records);

// Removes the journal; where the folder refuses that, empties it, which makes it Incomplete.
Status removeJournal(const std::string& path);

} // namespace dw
