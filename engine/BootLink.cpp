#include "engine/BootLink.h"

#include "engine/BootSectors.h"
#include "engine/Chain.h"
#include "engine/MemoryImage.h"

#include <algorithm>
#include <array>

namespace dw {

static_assert(BootStartSectorOffset == BootStartTrackOffset + 1);

int firstSideSectors(int sectorsPerTrack) {
    const bool twoSides = sectorsPerTrack == 2 * SingleDensitySectors ||
                          sectorsPerTrack == 2 * DoubleDensitySectors ||
                          sectorsPerTrack == 2 * QuadDensitySectors;
    return twoSides ? sectorsPerTrack / 2 : sectorsPerTrack;
}

namespace {

// The file's data as the loader reads it: sector by sector until a link names no sector.
Status loaderBytes(DiskImage& image, const std::string& name, SectorLink start,
                   std::vector<std::uint8_t>& bytes) {
    const ImageLayout& layout = image.layout();
    std::vector<bool> seen(std::size_t{256} * 256, false);
    auto refused = [&](const std::string& why) {
        return Status{ErrorCode::Damaged, name + " cannot be booted: " + why};
    };
    for (SectorLink at = start; !at.namesNoSector();) {
        if (!image.contains(at))
            return refused("its chain leads to " + linkText(at) + ", outside the disk image");
        if (seen[linkIndex(at)])
            return refused("its chain returns to sector " + linkText(at) +
                           ", so the loader would never end");
        const int side =
            firstSideSectors(at.track == 0 ? layout.trackZeroSectors : layout.maxSector);
        if (at.sector > side)
            return refused("its sector " + linkText(at) +
                           " lies on the second side, and the boot loader reads only sectors 1-" +
                           std::to_string(side) + " of a track");
        seen[linkIndex(at)] = true;
        Sector sector{};
        if (Status status = image.readSector(at, sector); !status.ok())
            return status;
        bytes.insert(bytes.end(), sector.begin() + SectorHeaderSize, sector.end());
        at = getLink(sector.data());
    }
    return {};
}

} // namespace

BootLinkResult linkBootFile(DiskImage& image, const DirectoryEntry& file) {
    BootLinkResult result;
    const std::string name = file.name() + "." + file.ext();
    const std::string unchanged = "; nothing was changed";
    if (image.readOnly()) {
        result.status = {ErrorCode::ReadOnly, "The disk image is open read-only" + unchanged};
        return result;
    }
    ImageChange change(image);
    SystemInformationRecord sir;
    result.status = change.status().ok() ? image.readSirForChange(sir) : change.status();
    Sector boot{};
    if (result.status.ok())
        result.status = image.readSector({0, 1}, boot);
    if (!result.status.ok())
        return result;
    if (std::all_of(boot.begin(), boot.end(), [](std::uint8_t b) { return b == 0; })) {
        result.status = {ErrorCode::BadImage,
                         "the boot sector is all zeros, so no loader would read the link" +
                             unchanged};
        return result;
    }
    if (file.startLink.namesNoSector()) {
        result.status = {ErrorCode::Damaged, name + " has no sectors to boot" + unchanged};
        return result;
    }
    std::vector<std::uint8_t> bytes;
    result.status = loaderBytes(image, name, file.startLink, bytes);
    if (!result.status.ok()) {
        result.status = {result.status.code(), result.status.text() + unchanged};
        return result;
    }

    MemoryImage memory;
    const Status read = readFlexBinary(bytes, memory);
    if (!read.ok())
        result.warnings.push_back(
            name + " is not a FLEX binary the loader can read whole: " + read.text());
    else if (!memory.start)
        result.warnings.push_back(name + " has no transfer record, so the loader loads it and "
                                         "returns to the monitor");

    const std::array<std::uint8_t, 2> link = {file.startLink.track, file.startLink.sector};
    result.status = image.writeAt(image.SectorOffset({0, 1}) + BootStartTrackOffset, link);
    if (result.status.ok())
        result.status = change.commit();
    return result;
}

} // namespace dw
