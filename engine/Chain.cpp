#include "engine/Chain.h"

#include <algorithm>

namespace dw {

ChainWalk walkChain(DiskImage& image, SectorLink start, std::size_t limit) {
    return LinkReader(image).walk(start, limit);
}

LinkReader::LinkReader(DiskImage& image)
    : image_(image), links_(image, SectorLink{}), trackRead_(256, false),
      seen_(std::size_t{256} * 256, false) {}

Status LinkReader::read(SectorLink at, SectorLink& out) {
    if (!image_.contains(at))
        return {ErrorCode::InvalidLink, "Link " + linkText(at) + " lies outside the disk image"};
    if (!trackRead_[at.track]) {
        // This track and the unread ones after it, up to a quarter of a megabyte, in one
        // transfer: the tracks lie back to back in the file, each from its sector 1.
        constexpr std::uint64_t Span = std::uint64_t{64} * 1024;
        const ImageLayout& layout = image_.layout();
        auto sectorsOf = [&](std::size_t track) {
            return std::uint64_t{track == 0 ? layout.trackZeroSectors : layout.maxSector};
        };
        const std::uint64_t first = layout.SectorOffset({at.track, 1});
        const std::uint64_t held = (image_.fileSize() - first) / SectorSize * SectorSize;
        std::size_t last = at.track;
        std::uint64_t bytes = sectorsOf(last) * SectorSize;
        while (last + 1 < trackRead_.size() && !trackRead_[last + 1] && bytes < Span &&
               bytes < held)
            bytes += sectorsOf(++last) * SectorSize;
        track_.resize(static_cast<std::size_t>(std::min(bytes, held)));
        Status status = image_.readAt(first, track_);
        if (!status.ok())
            return status;
        std::size_t offset = 0;
        for (std::size_t track = at.track; track <= last; ++track) {
            for (std::uint64_t s = 1; s <= sectorsOf(track); ++s, offset += SectorSize)
                if (offset < track_.size())
                    links_.at({static_cast<std::uint8_t>(track), static_cast<std::uint8_t>(s)}) =
                        getLink(track_.data() + offset);
            trackRead_[track] = true;
        }
    }
    out = links_.get(at);
    return {};
}

ChainWalk LinkReader::walk(SectorLink start, std::size_t limit) {
    ChainWalk walk;
    for (SectorLink current = start;;) {
        if (current.isNull()) {
            walk.end = ChainWalk::End::Null;
            break;
        }
        if (walk.sectors.size() >= limit) {
            walk.end = ChainWalk::End::Limit;
            break;
        }
        if (!image_.contains(current) || seen_[linkIndex(current)]) {
            walk.end =
                image_.contains(current) ? ChainWalk::End::Loop : ChainWalk::End::OutsideImage;
            walk.badLink = current;
            break;
        }
        seen_[linkIndex(current)] = true;
        walk.sectors.push_back(current);
        SectorLink next;
        if (Status status = read(current, next); !status.ok()) {
            if (status_.ok())
                status_ = status;
            walk.end = ChainWalk::End::OutsideImage;
            walk.badLink = current;
            break;
        }
        current = next;
    }
    for (SectorLink link : walk.sectors) // ready for the next walk
        seen_[linkIndex(link)] = false;
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
