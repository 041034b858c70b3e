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

ChainWalk walkChain(DiskImage& image, SectorLink start, std::size_t limit);

// Index of a sector in a table of every possible link (256 x 256 entries).
inline std::size_t linkIndex(SectorLink link) {
    return std::size_t{link.track} * 256 + link.sector;
}

// "at 001-002 its chain returns to 001-001"-style wording of where a walk stopped.
std::string chainProblemText(const ChainWalk& walk);

} // namespace dw
