#pragma once

// What a change has written, held in memory until the change commits: whole sectors (blocks
// of 256 bytes from where the sectors begin), each read from the file when first written.
// Reads see these writes over the file. At the commit the file still holds every original
// byte that matters, so the journal is made from the file, and then the blocks are written in
// runs. Only the data of sectors that were free goes to the file at once (see write).

#include "engine/Journal.h"
#include "engine/SectorStore.h"

#include <array>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

namespace dw {

class PendingWrites {
public:
    // Starts holding writes to a file of `size` bytes whose sectors begin at byte `base`.
    void start(std::uint64_t size, std::uint64_t base);
    void clear();
    bool started() const { return started_; }
    bool empty() const { return dirtyBlocks_ == 0; }

    bool read(SectorStore& store, std::uint64_t offset, std::span<std::uint8_t> bytes) const;
    // Refuses bytes before `base` or past the end. Bytes of a sector taken from the free chain
    // (takeFree) that keep its link go straight to the store: they matter to nobody should the
    // change be undone, so they need neither memory nor the journal.
    bool write(SectorStore& store, std::uint64_t offset, std::span<const std::uint8_t> bytes);

    // The sector at `offset` is taken from the free chain, where it links to `link` (read
    // during this change). Unless this change wrote it or put it into the free chain, it was
    // free when the change began: its data bytes matter to nobody, and only its link (which
    // the file still holds) goes into the journal.
    void takeFree(std::uint64_t offset, std::array<std::uint8_t, 2> link);
    // The sector at `offset` joins the free chain in this change: a later takeFree of it must
    // keep its whole original, which a file still owned when the change began.
    void markFreed(std::uint64_t offset);

    // The original bytes of every block written, as journal records (adjacent blocks in one).
    bool originals(SectorStore& store, std::vector<JournalRecord>& out) const;
    // Writes every written block to the store, adjacent blocks in one transfer.
    bool writeTo(SectorStore& store) const;

private:
    enum Flag : std::uint8_t { Dirty = 1, Freed = 2, FreeAtStart = 4 };

    std::uint64_t blockStart(std::size_t block) const { return base_ + block * BlockSize; }
    std::uint64_t blockEnd(std::size_t block) const;
    // The block holding `offset`, which must lie at or after base_.
    std::size_t blockOf(std::uint64_t offset) const {
        return static_cast<std::size_t>((offset - base_) / BlockSize);
    }
    // The held byte at `offset`, whose block must be Dirty.
    std::uint8_t* dataAt(std::uint64_t offset) {
        return blocks_.find(blockOf(offset))->second.data() + (offset - base_) % BlockSize;
    }
    const std::uint8_t* dataAt(std::uint64_t offset) const {
        return blocks_.find(blockOf(offset))->second.data() + (offset - base_) % BlockSize;
    }
    // True when bytes[from - offset, to - offset) of one block may go straight to the store.
    bool passesThrough(std::size_t block, std::uint64_t offset, std::span<const std::uint8_t> bytes,
                       std::uint64_t from, std::uint64_t to) const;

    static constexpr std::size_t BlockSize = 256;

    bool started_ = false;
    std::uint64_t size_ = 0;
    std::uint64_t base_ = 0;
    std::size_t dirtyBlocks_ = 0;
    std::vector<std::uint8_t> flags_;                                             // by block
    std::unordered_map<std::size_t, std::array<std::uint8_t, BlockSize>> blocks_; // the Dirty
    std::vector<std::array<std::uint8_t, 2>> freeLinks_; // original links, where FreeAtStart
};

} // namespace dw
