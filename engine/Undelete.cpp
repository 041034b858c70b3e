#include "engine/Undelete.h"

#include "engine/FlexName.h"
#include "engine/SectorMap.h"
#include "engine/WriteFile.h"

#include <algorithm>

namespace dw {

namespace {

const char* const NothingChanged = "; nothing was changed";

// A deleted entry, and where its chain would lie in the free chain.
struct Candidate {
    std::size_t entry = 0;
    std::size_t at = 0; // index of its first sector in the free chain
    std::string reason; // empty: recoverable
};

std::string shown(const DirectoryEntry& entry) {
    return deletedName(entry) + "." + entry.ext();
}

class Judge {
public:
    Judge(DiskImage& image, const SectorMap& map)
        : image_(image), map_(map), free_(map.freeChain()), position_(image, 0) {
        for (std::size_t i = 0; i < free_.size(); ++i)
            position_.at(free_[i]) = static_cast<std::uint32_t>(i + 1);
    }

    // Every deleted entry up to the end of the directory; two that claim the same sectors
    // cannot both hold their own data, so neither comes back.
    Status judgeAll(std::vector<Candidate>& out) {
        const std::vector<MappedEntry>& entries = map_.entries();
        const std::size_t end = std::min(map_.endSlot(), entries.size());
        for (std::size_t i = 0; i < end; ++i) {
            if (entries[i].state != EntryState::Deleted)
                continue;
            Candidate c{i, 0, {}};
            if (Status status = judge(c); !status.ok())
                return status;
            out.push_back(c);
        }
        std::vector<std::string> claimed(out.size());
        for (std::size_t a = 0; a < out.size(); ++a)
            for (std::size_t b = 0; b < out.size(); ++b)
                if (a != b && out[a].reason.empty() && out[b].reason.empty() &&
                    overlap(out[a], out[b]) && claimed[a].empty())
                    claimed[a] = "its sectors are also claimed by the deleted " +
                                 shown(entries[out[b].entry].slot.entry);
        for (std::size_t a = 0; a < out.size(); ++a)
            if (!claimed[a].empty())
                out[a].reason = claimed[a];
        return {};
    }

private:
    std::size_t count(const Candidate& c) const {
        return map_.entries()[c.entry].slot.entry.sectorCount;
    }
    bool overlap(const Candidate& a, const Candidate& b) const {
        return count(a) > 0 && count(b) > 0 && a.at < b.at + count(b) && b.at < a.at + count(a);
    }

    Status judge(Candidate& c) {
        const DirectoryEntry& e = map_.entries()[c.entry].slot.entry;
        const std::size_t n = e.sectorCount;
        if (const ChainDamage& damage = map_.freeChainDamage()) {
            c.reason = damage.text;
            return {};
        }
        std::array<std::uint8_t, DirectoryEntrySize> bytes{};
        e.serialize(bytes.data());
        if (std::all_of(bytes.begin() + 1, bytes.end(), [](std::uint8_t b) { return b == 0; })) {
            c.reason = "the entry holds nothing more: no name, date or sectors";
            return {};
        }
        if (n == 0) {
            if (!e.startLink.isNull() || !e.endLink.isNull())
                c.reason = "its entry counts no sectors but names " + linkText(e.startLink);
            return {};
        }
        const std::uint32_t position = position_.get(e.startLink);
        if (position == 0) {
            const std::vector<Owner> owners = map_.owners(e.startLink);
            c.reason = "its first sector " + linkText(e.startLink) +
                       (owners.empty() ? " is in no chain"
                                       : " now belongs to " + map_.ownerText(owners.front()));
            return {};
        }
        c.at = position - 1;
        if (c.at + n > free_.size() || free_[c.at + n - 1] != e.endLink) {
            c.reason = "its sectors are no longer linked as its chain was (the free chain does not "
                       "lead from " +
                       linkText(e.startLink) + " to " + linkText(e.endLink) + " in " +
                       std::to_string(n) + " sectors)";
            return {};
        }
        return e.randomFlag == 0 ? judgeRecords(c, n) : judgeSectorMap(c, n);
    }

    // A sequential file's sectors still carry its record numbers.
    Status judgeRecords(Candidate& c, std::size_t n) {
        Sector bytes{};
        for (std::size_t k = 0; k < n; ++k) {
            const SectorLink link = free_[c.at + k];
            if (Status status = image_.readSector(link, bytes); !status.ok())
                return status;
            const std::uint16_t record = getBigEndian16(bytes.data() + 2);
            if (record != k + 1) {
                c.reason = "its sector " + linkText(link) + " holds record " +
                           std::to_string(record) + ", not " + std::to_string(k + 1) +
                           ": a later file used it";
                return {};
            }
        }
        return {};
    }

    // A random file's sector map still names its data sectors.
    Status judgeSectorMap(Candidate& c, std::size_t n) {
        std::vector<std::uint8_t> sectorMap(SectorMapBytes, 0);
        Sector bytes{};
        for (std::size_t k = 0; k < std::min<std::size_t>(n, 2); ++k) {
            if (Status status = image_.readSector(free_[c.at + k], bytes); !status.ok())
                return status;
            std::copy_n(bytes.begin() + SectorHeaderSize, SectorDataSize,
                        sectorMap.begin() + static_cast<std::ptrdiff_t>(k * SectorDataSize));
        }
        const std::vector<SectorLink> named = sectorsOfMap(sectorMap.data(), map_.sir().maxSector);
        const auto data =
            free_.begin() + static_cast<std::ptrdiff_t>(c.at + std::min<std::size_t>(n, 2));
        if (!std::equal(named.begin(), named.end(), data,
                        free_.begin() + static_cast<std::ptrdiff_t>(c.at + n)) ||
            named.size() != n - std::min<std::size_t>(n, 2))
            c.reason = "its sector map no longer names its sectors: a later file used them";
        return {};
    }

    DiskImage& image_;
    const SectorMap& map_;
    std::span<const SectorLink> free_;
    LinkTable<std::uint32_t> position_; // by link: its index in the free chain plus one, or 0
};

} // namespace

std::string deletedName(const DirectoryEntry& entry) {
    std::string name = entry.name();
    if (!name.empty())
        name[0] = '?';
    return name;
}

namespace {

// The image's map (the SIR read as `hold` reads it: from a change or a shared hold) and every
// deleted entry judged.
Status judgeImage(DiskImage& image, const Status& hold, bool forChange,
                  SystemInformationRecord& sir, SectorMap& map, std::vector<Candidate>& out) {
    if (!hold.ok())
        return hold;
    Status status = forChange ? SectorMap::buildForChange(image, sir, map) : image.readSir(sir);
    if (status.ok() && !forChange)
        status = SectorMap::build(image, sir, map);
    return status.ok() ? Judge(image, map).judgeAll(out) : status;
}

} // namespace

Status listDeleted(DiskImage& image, std::vector<DeletedFile>& out) {
    out.clear();
    const ImageRead hold(image);
    SystemInformationRecord sir;
    SectorMap map;
    std::vector<Candidate> candidates;
    if (Status status = judgeImage(image, hold.status(), false, sir, map, candidates); !status.ok())
        return status;
    for (const Candidate& c : candidates) {
        const MappedEntry& e = map.entries()[c.entry];
        out.push_back({e.slot.entry, e.slot.offset, c.reason.empty(), c.reason});
    }
    return map.directoryStatus();
}

Status undeleteFile(DiskImage& image, std::uint32_t offset, const std::string& newName) {
    if (image.readOnly())
        return {ErrorCode::ReadOnly, "The disk image is open read-only; nothing was changed"};
    const std::optional<FlexName> wanted = typedFlexName(newName);
    if (!wanted)
        return {ErrorCode::InvalidName, "\"" + newName +
                                            "\" is not a FLEX file name (NAME.EXT: 1 to 8 and 1 "
                                            "to 3 printable characters)" +
                                            NothingChanged};
    ImageChange change(image);
    SystemInformationRecord sir;
    SectorMap map;
    std::vector<Candidate> candidates;
    Status status = judgeImage(image, change.status(), true, sir, map, candidates);
    if (!status.ok())
        return status;
    const auto found = std::find_if(candidates.begin(), candidates.end(), [&](const Candidate& c) {
        return map.entries()[c.entry].slot.offset == offset;
    });
    if (found == candidates.end())
        return {ErrorCode::NotFound, "No deleted entry lies there" + std::string(NothingChanged)};
    const MappedEntry& file = map.entries()[found->entry];
    const std::string name = shown(file.slot.entry);
    ChainDamage damage{found->reason};
    if (!map.directoryStatus().ok())
        damage = {map.directoryStatus().fact()};
    if (!damage)
        damage = map.recordsDamage(found->entry);
    if (damage)
        return {ErrorCode::Damaged, name + " cannot come back: " + damage.text + NothingChanged};
    if (map.findLive(wanted->name, wanted->ext) != SectorMap::NoEntry)
        return {ErrorCode::Exists, name + " cannot come back as " + wanted->text() +
                                       ": a file of that name is on the disk" + NothingChanged};

    // The chain leaves the free chain: what led to its first sector now leads past its last.
    const std::span<const SectorLink> free = map.freeChain();
    const std::size_t n = file.slot.entry.sectorCount;
    const std::size_t at = found->at;
    if (n > 0) {
        const SectorLink after = at + n < free.size() ? free[at + n] : SectorLink{};
        if (at == 0)
            sir.firstFree = after;
        else
            status = image.writeLink(free[at - 1], after);
        if (at + n == free.size())
            sir.lastFree = at == 0 ? SectorLink{} : free[at - 1];
        sir.freeSectorCount = static_cast<std::uint16_t>(sir.freeSectorCount - n);
        if (status.ok())
            status = image.writeLink(free[at + n - 1], SectorLink{});
        if (status.ok())
            status = image.writeSir(sir);
    }
    DirectoryEntry restored = file.slot.entry;
    restored.setName(wanted->name, wanted->ext);
    if (status.ok())
        status = image.writeEntry(file.slot.offset, restored);
    return status.ok() ? change.commit() : status;
}

} // namespace dw
