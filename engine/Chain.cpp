#include "engine/Chain.h"

#include <algorithm>

namespace dw {

ChainWalk walkChain(DiskImage& image, SectorLink start, std::size_t limit) {
    ChainWalk walk;
    std::vector<bool> seen(256 * 256, false);
    SectorLink current = start;
    while (true) {
        if (current.isNull()) {
            walk.end = ChainWalk::End::Null;
            break;
        }
        if (walk.sectors.size() >= limit) {
            walk.end = ChainWalk::End::Limit;
            break;
        }
        if (!image.contains(current)) {
            walk.end = ChainWalk::End::OutsideImage;
            walk.badLink = current;
            break;
        }
        if (seen[linkIndex(current)]) {
            walk.end = ChainWalk::End::Loop;
            walk.badLink = current;
            break;
        }
        seen[linkIndex(current)] = true;
        walk.sectors.push_back(current);
        SectorLink next;
        if (!image.readLink(current, next).ok()) {
            walk.end = ChainWalk::End::OutsideImage;
            walk.badLink = current;
            break;
        }
        current = next;
    }
    return walk;
}

std::size_t tracksHeld(const DiskImage& image) {
    const ImageLayout& layout = image.layout();
    if (layout.maxSector == 0)
        return 256;
    const std::uint64_t trackZeroEnd =
        layout.headerBytes + std::uint64_t{layout.trackZeroSectors} * SectorSize;
    if (image.fileSize() <= trackZeroEnd)
        return 1;
    const std::uint64_t whole =
        (image.fileSize() - trackZeroEnd) / (std::uint64_t{layout.maxSector} * SectorSize);
    return static_cast<std::size_t>(std::min<std::uint64_t>(256, whole + 2));
}

std::string chainProblemText(const ChainWalk& walk) {
    switch (walk.end) {
    case ChainWalk::End::Loop:
        return "the chain returns to sector " + linkText(walk.badLink);
    case ChainWalk::End::OutsideImage:
        return "the chain leads to " + linkText(walk.badLink) + ", outside the disk image";
    case ChainWalk::End::Limit:
        return "the chain is longer than the disk";
    case ChainWalk::End::Null:
        break;
    }
    return {};
}

} // namespace dw
