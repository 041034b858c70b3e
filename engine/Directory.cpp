#include "engine/Directory.h"

#include <set>

namespace dw {

Status walkDirectory(DiskImage& image, std::uint8_t maxSector,
                     const std::function<SlotAction(const DirectorySlot&)>& visit) {
    std::set<SectorLink> visited;
    SectorLink current = FirstDirectorySector;
    while (!current.namesNoSector()) {
        if (!visited.insert(current).second)
            return {ErrorCode::Damaged,
                    "The directory chain is damaged: it returns to sector " + linkText(current)};
        if (!image.contains(current, maxSector))
            return {ErrorCode::Damaged, "The directory chain is damaged: link " +
                                            linkText(current) + " lies outside the disk image"};
        Sector bytes{};
        Status status = image.readSector(current, maxSector, bytes);
        if (!status.ok())
            return status;
        const std::uint32_t base = SectorOffset(current, maxSector);
        const SectorLink next = getLink(bytes.data());
        for (int k = 0; k < EntriesPerSector; ++k) {
            const int at = DirectoryHeaderSize + DirectoryEntrySize * k;
            DirectorySlot slot{base + static_cast<std::uint32_t>(at), current, k,
                               DirectoryEntry::parse(bytes.data() + at)};
            SlotAction action = visit(slot);
            if (slot.entry.isEndOfDirectory() || action == SlotAction::Stop)
                return {};
            if (action == SlotAction::SkipSector)
                break;
        }
        current = next;
    }
    return {};
}

Status readListing(DiskImage& image, Listing& out) {
    out = Listing{};
    SystemInformationRecord sir;
    Status status = image.readSir(sir);
    if (!status.ok())
        return status;
    out.sir = sir;
    return walkDirectory(image, sir.maxSector, [&](const DirectorySlot& slot) {
        if (slot.entry.isLive())
            out.entries.push_back(slot.entry);
        return SlotAction::Continue;
    });
}

} // namespace dw
