#include "engine/Delete.h"

#include "engine/Chain.h"
#include "engine/Directory.h"

#include <cstdint>

namespace dw {

namespace {

std::string fileText(const DirectoryEntry& entry) {
    return entry.name() + "." + entry.ext();
}

Status damaged(const DirectoryEntry& entry, const std::string& what) {
    return {ErrorCode::Damaged,
            fileText(entry) + " was not deleted: " + what + "; nothing was changed"};
}

std::size_t sectorLimit(const DiskImage& image) {
    return image.fileSize() / SectorSize + 1;
}

bool isEmptyFreeChain(const SystemInformationRecord& sir) {
    return sir.freeSectorCount == 0 || sir.firstFree.isNull() || sir.lastFree.isNull();
}

// Sets the link field of one sector, keeping the other 254 bytes as they are.
Status relink(DiskImage& image, SectorLink at, SectorLink to) {
    Sector sector{};
    Status status = image.readSector(at, sector);
    if (!status.ok())
        return status;
    putLink(sector.data(), to);
    return image.writeSector(at, sector);
}

// Who owns each sector besides the file being deleted: the directory and every other live
// file, as far as their chains lead.
class Owners {
public:
    Owners(DiskImage& image, std::uint32_t slotOffset) : owner_(image, Nobody) {
        claim(image, FirstDirectorySector, Directory);
        walkDirectory(image, [&](const DirectorySlot& slot) {
            if (slot.entry.isLive() && slot.offset != slotOffset) {
                names_.push_back(fileText(slot.entry));
                claim(image, slot.entry.startLink, static_cast<std::int32_t>(names_.size() - 1));
            }
            return SlotAction::Continue;
        });
    }

    // "the directory" or the owning file's name; empty when the sector is nobody's.
    std::string of(SectorLink link) const {
        const std::int32_t owner = owner_.get(link);
        if (owner == Nobody)
            return {};
        return owner == Directory ? "the directory" : names_[static_cast<std::size_t>(owner)];
    }

private:
    static constexpr std::int32_t Nobody = -1;
    static constexpr std::int32_t Directory = -2;

    void claim(DiskImage& image, SectorLink start, std::int32_t who) {
        for (SectorLink link : walkChain(image, start, sectorLimit(image)).sectors)
            if (owner_.get(link) == Nobody)
                owner_.at(link) = who;
    }

    LinkTable<std::int32_t> owner_;
    std::vector<std::string> names_;
};

} // namespace

Status deleteEntryAt(DiskImage& image, std::uint32_t slotOffset, const DirectoryEntry& entry,
                     SystemInformationRecord& sirAfter) {
    if (image.readOnly())
        return {ErrorCode::ReadOnly, "The disk image is open read-only; nothing was changed"};
    ImageChange change(image);
    if (!change.status().ok())
        return change.status();
    SystemInformationRecord sir;
    Status status = image.readSirForChange(sir);
    if (!status.ok())
        return status;

    // Both chains are checked before the first write, so a bad link can never be written through.
    const ChainWalk file = walkChain(image, entry.startLink, sectorLimit(image));
    if (file.end != ChainWalk::End::Null)
        return damaged(entry, chainProblemText(file));
    // Track 0 holds the boot, SIR and directory sectors: freeing one would let an import
    // overwrite it.
    for (SectorLink link : file.sectors)
        if (link.track == 0)
            return damaged(entry, "its sector " + linkText(link) +
                                      " lies on track 0, among the system and directory sectors");
    const bool hasSectors = !file.sectors.empty();
    if (hasSectors && file.sectors.back() != entry.endLink)
        return damaged(entry, "its chain ends at " + linkText(file.sectors.back()) + ", not at " +
                                  linkText(entry.endLink));
    if (!hasSectors && !entry.endLink.isNull())
        return damaged(entry,
                       "its chain is empty but its last sector is " + linkText(entry.endLink));
    // The free count grows by the entry's count: it must be the chain's length.
    if (file.sectors.size() != entry.sectorCount)
        return damaged(entry, "its chain holds " + std::to_string(file.sectors.size()) +
                                  " sectors, the directory says " +
                                  std::to_string(entry.sectorCount));
    // Freeing a sector that another file or the directory still uses would let an import
    // overwrite it.
    if (hasSectors) {
        const Owners owners(image, slotOffset);
        for (SectorLink link : file.sectors)
            if (const std::string other = owners.of(link); !other.empty())
                return damaged(entry, "its sector " + linkText(link) + " also belongs to " + other);
    }

    const bool emptyFree = isEmptyFreeChain(sir);
    if (hasSectors && !emptyFree) {
        const ChainWalk free = walkChain(image, sir.firstFree, sectorLimit(image));
        if (free.end != ChainWalk::End::Null)
            return damaged(entry, "the free chain is damaged: " + chainProblemText(free));
        if (free.sectors.empty() || free.sectors.back() != sir.lastFree)
            return damaged(entry, "the free chain does not end at " + linkText(sir.lastFree));
        for (SectorLink link : free.sectors)
            if (link.track == 0)
                return damaged(entry, "the free chain's sector " + linkText(link) +
                                          " lies on track 0, among the system and directory "
                                          "sectors");
        std::vector<bool> inFree(256 * 256, false);
        for (SectorLink link : free.sectors)
            inFree[linkIndex(link)] = true;
        for (SectorLink link : file.sectors)
            if (inFree[linkIndex(link)])
                return damaged(entry,
                               "its sector " + linkText(link) + " is also in the free chain");
    }

    image.freeingSectors(file.sectors);
    DirectoryEntry marked = entry;
    marked.fileName[0] = 0xFF;
    status = image.writeEntry(slotOffset, marked);
    if (!status.ok())
        return status;

    if (hasSectors) {
        if (emptyFree) {
            // Nothing to append to: the file's chain becomes the free chain.
            sir.firstFree = entry.startLink;
            sir.freeSectorCount = entry.sectorCount;
        } else {
            status = relink(image, sir.lastFree, entry.startLink);
            if (!status.ok())
                return status;
            sir.freeSectorCount =
                static_cast<std::uint16_t>(sir.freeSectorCount + entry.sectorCount);
        }
        sir.lastFree = entry.endLink;
        status = image.writeSir(sir);
        if (!status.ok())
            return status;
        status = relink(image, sir.lastFree, SectorLink{});
        if (!status.ok())
            return status;
    }
    sirAfter = sir;
    return change.commit();
}

Status deleteFile(DiskImage& image, const std::string& name, const std::string& ext) {
    if (image.readOnly())
        return {ErrorCode::ReadOnly, "The disk image is open read-only; nothing was changed"};
    ImageChange change(image);
    if (!change.status().ok())
        return change.status();
    SystemInformationRecord sir;
    Status status = image.readSir(sir);
    if (!status.ok())
        return status;
    bool found = false;
    DirectorySlot match;
    Status walk = walkDirectory(image, [&](const DirectorySlot& slot) {
        if (slot.entry.isLive() && slot.entry.name() == name && slot.entry.ext() == ext) {
            found = true;
            match = slot;
            return SlotAction::Stop;
        }
        return SlotAction::Continue;
    });
    if (!found)
        return walk.ok() ? Status{ErrorCode::NotFound, name + "." + ext + " is not on the disk"}
                         : walk;
    SystemInformationRecord after;
    status = deleteEntryAt(image, match.offset, match.entry, after);
    return status.ok() ? change.commit() : status;
}

} // namespace dw
