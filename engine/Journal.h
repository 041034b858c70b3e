#pragma once

// The rollback journal beside an image (IMAGE-journal): the original bytes of what a change is
// about to write (see PendingWrites for what it leaves out), made durable before the image is
// touched and removed (durably too) once the changed image is. A journal found later means a
// change was interrupted: its records put the image back as it was. A journal cut short was
// never acted on, since the image is written only after the journal is whole on disk.
//
// A journal knows its image: it records the image's length and, for every 512-byte piece of the
// file it would restore (a disk sector, which a power cut leaves whole), a hash of the bytes the
// change was writing there. A torn change leaves each piece holding its old or its new bytes;
// anything else means another image has taken the path, and the journal is not applied to it.
// Journals of the first format have no hashes and are tied to their image by its length alone.

#include "engine/Status.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace dw {

constexpr std::uint64_t JournalPiece = 512;

struct JournalRecord {
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> bytes;      // what the change found there
    std::vector<std::uint64_t> newHashes; // per piece, of what the change writes there
};

struct Journal {
    std::uint64_t imageSize = 0;
    std::vector<JournalRecord> records;
    bool identifies = false; // it has the hashes; a journal of the first format has none
};

std::string journalPathFor(const std::string& imagePath);

// Makes a journal's bytes, in the current format (each record with the hashes of its pieces:
// those at every multiple of JournalPiece in the file), one record at a time.
class JournalBuilder {
public:
    explicit JournalBuilder(std::uint64_t imageSize);
    // A region at `offset` that holds `found` and that the change overwrites with `written`.
    void add(std::uint64_t offset, std::span<const std::uint8_t> found,
             std::span<const std::uint8_t> written);
    std::vector<std::uint8_t> finish();

private:
    std::vector<std::uint8_t> bytes_;
    std::uint32_t records_ = 0;
};

// Writes the journal whole, puts it on stable storage, and makes its name durable too.
Status writeJournal(const std::string& path, const std::string& imagePath,
                    const std::vector<std::uint8_t>& bytes);

enum class JournalState {
    None,       // there is no journal
    Complete,   // whole and checked
    Incomplete, // cut short or damaged: never acted on
};

// Decodes a journal found beside an image of `imageSize` bytes. One made for an image of
// another length is Complete with that length and no records.
JournalState decodeJournal(std::span<const std::uint8_t> bytes, std::uint64_t imageSize,
                           Journal& out);

// Reads and decodes the journal at `path`. Fails only when a journal exists but cannot be read.
Status readJournal(const std::string& path, std::uint64_t imageSize, JournalState& state,
                   Journal& out);

// True when every piece of the record's region, as `now` holds it, holds the bytes the change
// found there or those it was writing (always, for a journal without hashes).
bool holdsOldOrNew(const JournalRecord& record, std::span<const std::uint8_t> now);

// Removes the journal (where the folder refuses that, empties it, which makes it Incomplete)
// and puts that on stable storage.
Status removeJournal(const std::string& path);

// Renames a journal that belongs to another image to PATH.stale (PATH.stale.1 and so on when
// that is taken; nothing is replaced) and puts that on stable storage; `keptAs` gets the name.
Status setJournalAside(const std::string& path, std::string& keptAs);

} // namespace dw
