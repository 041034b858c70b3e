#pragma once

// Following a sector chain without trusting it: every walk is bounded and stops at the first
// link that leaves the image or returns to a sector already seen.

#include "engine/DiskImage.h"

#include <cstddef>
#include <vector>

namespace dw {

struct ChainWalk {
    enum class End {
        Null,         // reached a 0/0 link: a whole chain
        Loop,         // returned to a sector already in the chain
        OutsideImage, // a link the image does not contain (or whose link field could not be read)
        Limit,        // `limit` sectors were taken and the chain goes on
    };
    std::vector<SectorLink> sectors; // in chain order
    End end = End::Null;
    SectorLink badLink; // the offending link for Loop and OutsideImage
};

// One chain from `start`, at most `limit` sectors, through a LinkReader of its own.
ChainWalk walkChain(DiskImage& image, SectorLink start, std::size_t limit);

// Index of a sector in a table of every possible link (256 x 256 entries).
inline std::size_t linkIndex(SectorLink link) {
    return std::size_t{link.track} * 256 + link.sector;
}

// Tracks whose sectors lie wholly or partly in the image's file (at most 256): every link that
// `contains` accepts has a track below this.
std::size_t tracksHeld(const DiskImage& image);

// A value for each sector of the image, by link, for as many tracks as its file holds rather
// than for every possible link: a small image's tables cost little to make (each operation makes
// its own). A link beyond them reads as the initial value, and is given room when written.
template <typename T> class LinkTable {
public:
    LinkTable() = default;
    LinkTable(const DiskImage& image, T initial) { reset(image, initial); }

    void reset(const DiskImage& image, T initial) {
        initial_ = initial;
        values_.assign(tracksHeld(image) * 256, initial);
    }
    T get(SectorLink link) const {
        const std::size_t index = linkIndex(link);
        return index < values_.size() ? values_[index] : initial_;
    }
    T& at(SectorLink link) {
        const std::size_t index = linkIndex(link);
        if (index >= values_.size())
            values_.resize(index + 1, initial_);
        return values_[index];
    }

private:
    T initial_{};
    std::vector<T> values_;
};

// Link fields for walks that cover much of an image (the sector map's): each track's links are
// read in one transfer, once, and kept. A failed read ends the walk that met it as OutsideImage
// and is kept in status().
class LinkReader {
public:
    explicit LinkReader(DiskImage& image);

    // The link that sector `at` holds; InvalidLink for a sector `contains` rejects.
    Status read(SectorLink at, SectorLink& out);
    // The chain from `start`, stopping at a null link, `limit` sectors, a loop or a link
    // outside the image.
    ChainWalk walk(SectorLink start, std::size_t limit);
    const Status& status() const { return status_; }

private:
    DiskImage& image_;
    LinkTable<SectorLink> links_;
    std::vector<bool> trackRead_;
    std::vector<bool> seen_; // by linkIndex: passed by the running walk
    std::vector<std::uint8_t> track_;
    Status status_;
};

// "at 001-002 its chain returns to 001-001"-style wording of where a walk stopped.
std::string chainProblemText(const ChainWalk& walk);

} // namespace dw
