#pragma once

// What a change has written, held in memory until the change commits: whole sectors (blocks
// of 256 bytes from where the sectors begin), each read from the file when first written.
// Reads see these writes over the file. Nothing reaches the file before the commit, which makes
// the journal from the file's bytes and the held ones, then writes the blocks in runs. A change
// holds at most every sector of the image, some 16 MB.
//
// Of a sector the change took from the free chain, only the link is worth keeping: its data
// belonged to no file when the change began (unless the change freed it itself), and copying
// what a large import overwrites would cost it dearly.

#include "engine/SectorStore.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace dw {

class PendingWrites {
public:
    // Starts holding writes to a file of `size` bytes whose sectors begin at byte `base`.
    void start(std::uint64_t size, std::uint64_t base);
    void clear();
    bool started() const { return started_; }
    bool empty() const { return heldBlocks_ == 0; }

    bool read(SectorStore& store, std::uint64_t offset, std::span<std::uint8_t> bytes) const;
    // Refuses bytes before `base` or past the end.
    bool write(SectorStore& store, std::uint64_t offset, std::span<const std::uint8_t> bytes);

    // The sector at `offset` is taken from the free chain, where it links to `link` (read
    // during this change). Unless this change wrote it or put it into the free chain, it was
    // free when the change began.
    void takeFree(std::uint64_t offset, std::array<std::uint8_t, 2> link);
    // The sector at `offset` joins the free chain in this change: a later takeFree of it must
    // keep its whole original, which a file still owned when the change began.
    void markFreed(std::uint64_t offset);

    // What the journal must keep, in file order (offsets and lengths): the runs of written
    // blocks, but of a sector free at the start only its link, and that only where it changes.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> regionsToKeep() const;
    // Where the runs of written blocks lie, in file order: their offsets and lengths.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> runs() const;
    // Writes every written block to the store; blocks held side by side go in one transfer.
    bool writeTo(SectorStore& store) const;

private:
    static constexpr std::size_t BlockSize = 256;

    std::uint64_t blockStart(std::size_t block) const { return base_ + block * BlockSize; }
    std::uint64_t blockEnd(std::size_t block) const;
    std::size_t blockOf(std::uint64_t offset) const {
        return static_cast<std::size_t>((offset - base_) / BlockSize);
    }
    enum Flag : std::uint8_t { Freed = 1, FreeAtStart = 2 };
    std::uint8_t flags(std::size_t block) const {
        return block < flags_.size() ? flags_[block] : 0;
    }

    bool hold(); // maps held_ when needed
    bool written(std::size_t block) const { return block < slot_.size() && slot_[block] != 0; }
    // The held bytes of a written block.
    std::uint8_t* heldBlock(std::size_t block) const {
        return held_.get() + (slot_[block] - 1) * BlockSize;
    }

    // Room for every block a change can write (a FLEX image has at most 65,536 sectors), mapped
    // at the first write and given back whole: megabytes of fresh memory from the heap cost a
    // page fault every 4 KiB, and large pages save most of them.
    struct Unmap {
        void operator()(std::uint8_t* memory) const;
    };
    static constexpr std::size_t MostBlocks = std::size_t{256} * 256;
    static constexpr std::size_t LargePage = std::size_t{2} * 1024 * 1024;

    bool started_ = false;
    std::uint64_t size_ = 0;
    std::uint64_t base_ = 0;
    std::vector<std::uint32_t> slot_; // by block: 0, or 1 + its place in held_; up to the last
    std::unique_ptr<std::uint8_t, Unmap> held_; // BlockSize bytes for each written block
    std::size_t heldBlocks_ = 0;
    std::vector<std::uint8_t> flags_;                    // by block, up to the last flagged
    std::vector<std::array<std::uint8_t, 2>> freeLinks_; // by block, where FreeAtStart
};

} // namespace dw
