#include "engine/Delete.h"

namespace dw {

const char* const RepairHint = " (repair rebuilds the free chain)";

Status deleteEntry(DiskImage& image, SectorMap& map, std::size_t entry) {
    const MappedEntry& file = map.entries()[entry];
    const std::vector<SectorLink> chain = file.chain.sectors;
    const DirectoryEntry record = file.slot.entry;
    const bool freesSectors = !chain.empty();

    // Everything the deletion touches is judged before the first write: a bad link is never
    // written through, and no sector another chain holds is handed to the free chain.
    ChainDamage damage;
    if (!map.directoryStatus().ok())
        damage = {map.directoryStatus().fact()};
    if (!damage)
        damage = map.chainDamage(entry);
    if (!damage && freesSectors)
        damage = map.freeChainDamage();
    if (!damage)
        damage = map.recordsDamage(entry);
    if (damage)
        return {ErrorCode::Damaged, file.shownName() + " was not deleted: " + damage.text +
                                        "; nothing was changed" +
                                        (damage.freeChain ? RepairHint : "")};

    SystemInformationRecord sir = map.sir();
    image.freeingSectors(chain);
    DirectoryEntry marked = record;
    marked.fileName[0] = 0xFF;
    Status status = image.writeEntry(file.slot.offset, marked);
    if (status.ok() && freesSectors) {
        if (sir.firstFree.isNull()) {
            // Nothing to append to: the file's chain becomes the free chain.
            sir.firstFree = record.startLink;
            sir.freeSectorCount = record.sectorCount;
        } else {
            status = image.writeLink(sir.lastFree, record.startLink);
            sir.freeSectorCount = static_cast<std::uint16_t>(sir.freeSectorCount + chain.size());
        }
        sir.lastFree = record.endLink;
        if (status.ok())
            status = image.writeSir(sir);
        if (status.ok())
            status = image.writeLink(sir.lastFree, SectorLink{});
    }
    if (status.ok())
        map.recordDelete(entry, sir);
    return status;
}

Status deleteFile(DiskImage& image, const std::string& name, const std::string& ext) {
    if (image.readOnly())
        return {ErrorCode::ReadOnly, "The disk image is open read-only; nothing was changed"};
    ImageChange change(image);
    if (!change.status().ok())
        return change.status();
    SystemInformationRecord sir;
    Status status = image.readSirForChange(sir);
    SectorMap map;
    if (status.ok())
        status = SectorMap::build(image, sir, map);
    if (!status.ok())
        return status;
    const std::size_t entry = map.findLive(name, ext);
    if (entry == SectorMap::NoEntry)
        return map.directoryStatus().ok()
                   ? Status{ErrorCode::NotFound, name + "." + ext + " is not on the disk"}
                   : map.directoryStatus();
    status = deleteEntry(image, map, entry);
    return status.ok() ? change.commit() : status;
}

} // namespace dw
