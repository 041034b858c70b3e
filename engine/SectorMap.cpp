#include "engine/SectorMap.h"

#include <algorithm>

namespace dw {

namespace {

const std::string FreeDamaged = "the free chain is damaged: ";

std::string onTrackZero(const std::string& its, SectorLink link) {
    return its + " sector " + linkText(link) +
           " lies on track 0, among the system and directory sectors";
}

} // namespace

std::uint32_t SectorMap::code(Owner owner) {
    switch (owner.kind) {
    case OwnerKind::System:
        return 1;
    case OwnerKind::Directory:
        return 2;
    case OwnerKind::Free:
        return 3;
    case OwnerKind::Entry:
        break;
    }
    return static_cast<std::uint32_t>(4 + owner.entry);
}

Owner SectorMap::ownerOf(std::uint32_t code) {
    switch (code) {
    case 1:
        return {OwnerKind::System};
    case 2:
        return {OwnerKind::Directory};
    case 3:
        return {OwnerKind::Free};
    default:
        return Owner::of(code - 4);
    }
}

void SectorMap::claim(SectorLink link, Owner owner) {
    std::uint32_t& cell = cells_.at(link);
    const std::uint32_t mine = code(owner);
    if (cell == 0) {
        cell = mine;
    } else if ((cell & Shared) != 0) {
        std::vector<Owner>& list = shared_[cell & ~Shared];
        if (std::find(list.begin(), list.end(), owner) == list.end())
            list.push_back(owner);
    } else if (cell != mine) {
        shared_.push_back({ownerOf(cell), owner});
        cell = Shared | static_cast<std::uint32_t>(shared_.size() - 1);
    }
}

void SectorMap::reassign(SectorLink link, Owner from, Owner to) {
    std::uint32_t& cell = cells_.at(link);
    if (cell == code(from))
        cell = code(to);
}

std::vector<Owner> SectorMap::owners(SectorLink link) const {
    const std::uint32_t cell = cells_.get(link);
    if (cell == 0)
        return {};
    if ((cell & Shared) != 0)
        return shared_[cell & ~Shared];
    return {ownerOf(cell)};
}

Owner SectorMap::firstOwner(SectorLink link) const {
    const std::uint32_t cell = cells_.get(link);
    return (cell & Shared) != 0 ? shared_[cell & ~Shared].front() : ownerOf(cell);
}

bool SectorMap::ownedBy(SectorLink link, Owner owner) const {
    const std::uint32_t cell = cells_.get(link);
    if ((cell & Shared) == 0)
        return cell == code(owner);
    const std::vector<Owner>& list = shared_[cell & ~Shared];
    return std::find(list.begin(), list.end(), owner) != list.end();
}

bool SectorMap::ownedOnlyBy(SectorLink link, Owner owner) const {
    return cells_.get(link) == code(owner);
}

std::string SectorMap::ownerText(Owner owner) const {
    switch (owner.kind) {
    case OwnerKind::System:
        return "the system sectors";
    case OwnerKind::Directory:
        return "the directory";
    case OwnerKind::Free:
        return "the free chain";
    case OwnerKind::Entry:
        break;
    }
    return entries_[owner.entry].shownName();
}

std::string SectorMap::otherOwner(SectorLink link, Owner owner, const std::string& its) const {
    if (ownedOnlyBy(link, owner))
        return {};
    for (Owner other : owners(link))
        if (other != owner)
            return its + " sector " + linkText(link) + " also belongs to " + ownerText(other);
    return its + " sector " + linkText(link) + " belongs to no chain";
}

std::size_t SectorMap::findLive(const std::string& name, const std::string& ext) const {
    std::size_t first = NoEntry;
    const auto [from, to] = live_.equal_range(key(name, ext));
    for (auto at = from; at != to; ++at)
        first = std::min(first, at->second);
    return first;
}

void SectorMap::makeLive(std::size_t entry) {
    MappedEntry& e = entries_[entry];
    e.state = EntryState::Live;
    live_.emplace(key(e.slot.entry.name(), e.slot.entry.ext()), entry);
}

// The directory as the listing reads it: a link whose sector byte is 0 ends the chain, and a
// break before the end slot hides the entries behind it.
void SectorMap::walkDirectory(LinkReader& links) {
    directory_ = links.walk(FirstDirectorySector, limit_);
    for (SectorLink link : directory_.sectors)
        claim(link, {OwnerKind::Directory});
}

Status SectorMap::readSlots(DiskImage& image) {
    Sector bytes{};
    entries_.reserve(directory_.sectors.size() * EntriesPerSector);
    for (SectorLink sector : directory_.sectors) {
        Status status = image.readSector(sector, bytes);
        if (!status.ok())
            return status;
        for (int index = 0; index < EntriesPerSector; ++index) {
            const int at = DirectoryHeaderSize + DirectoryEntrySize * index;
            MappedEntry mapped;
            mapped.slot = {image.SectorOffset(sector) + static_cast<std::uint32_t>(at), sector,
                           index, DirectoryEntry::parse(bytes.data() + at)};
            const DirectoryEntry& e = mapped.slot.entry;
            const bool ended = endSlot_ != NoEntry;
            if (e.isEndOfDirectory()) {
                if (!ended)
                    endSlot_ = entries_.size();
            } else {
                mapped.state = e.isDeleted() ? EntryState::Deleted
                               : ended       ? EntryState::AfterEnd
                                             : EntryState::Live;
            }
            entries_.push_back(std::move(mapped));
            if (entries_.back().state == EntryState::Live)
                makeLive(entries_.size() - 1);
        }
    }
    const bool breaks =
        directory_.end == ChainWalk::End::Loop || directory_.end == ChainWalk::End::Limit ||
        (directory_.end == ChainWalk::End::OutsideImage && !directory_.badLink.namesNoSector());
    if (endSlot_ == NoEntry && breaks) {
        const std::string fact =
            "the directory chain is damaged: " +
            (directory_.end == ChainWalk::End::OutsideImage
                 ? "link " + linkText(directory_.badLink) + " lies outside the disk image"
                 : std::string("it returns to sector ") + linkText(directory_.badLink));
        directoryStatus_ = {ErrorCode::Damaged, "The" + fact.substr(3), fact};
    }
    return {};
}

// A chain cut short leaves its entry's end sector, and the sectors that still lead to it, in
// no chain: they stay the entry's, so that nothing frees them while the entry names them.
Status SectorMap::findDetached(DiskImage& image, LinkReader& links) {
    std::vector<std::size_t> cut;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const SectorLink end = entries_[i].slot.entry.endLink;
        if (entries_[i].owns() && !end.isNull() && image.contains(end) &&
            !ownedBy(end, Owner::of(i)))
            cut.push_back(i);
    }
    if (cut.empty())
        return {};
    // Every sector of no chain, by the sector it links to.
    std::vector<std::pair<SectorLink, SectorLink>> into;
    const std::size_t tracks = tracksHeld(image);
    for (std::size_t t = 1; t < tracks; ++t)
        for (int s = 1; s <= image.layout().maxSector; ++s) {
            const SectorLink link{static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(s)};
            if (!image.contains(link) || cells_.get(link) != 0)
                continue;
            SectorLink next;
            Status status = links.read(link, next);
            if (!status.ok())
                return status;
            if (image.contains(next))
                into.emplace_back(next, link);
        }
    std::sort(into.begin(), into.end());
    for (std::size_t i : cut) {
        std::vector<SectorLink> back{entries_[i].slot.entry.endLink};
        claim(back.front(), Owner::of(i));
        for (std::size_t k = 0; k < back.size(); ++k) {
            auto from = std::lower_bound(into.begin(), into.end(),
                                         std::pair<SectorLink, SectorLink>{back[k], {}});
            for (; from != into.end() && from->first == back[k]; ++from)
                if (cells_.get(from->second) == 0) {
                    claim(from->second, Owner::of(i));
                    back.push_back(from->second);
                }
        }
        entries_[i].detached.assign(back.rbegin(), back.rend());
    }
    return {};
}

Status SectorMap::build(DiskImage& image, const SystemInformationRecord& sir, SectorMap& out) {
    out = SectorMap{};
    out.sir_ = sir;
    out.limit_ = image.fileSize() / SectorSize + 1;
    out.cells_.reset(image, 0);
    for (std::uint8_t s = 1; s < FirstDirectorySector.sector; ++s)
        if (image.contains({0, s}))
            out.claim({0, s}, {OwnerKind::System});
    LinkReader links(image);
    out.walkDirectory(links);
    Status status = out.readSlots(image);
    if (!status.ok())
        return status;
    for (std::size_t i = 0; i < out.entries_.size(); ++i) {
        MappedEntry& e = out.entries_[i];
        if (!e.owns())
            continue;
        e.chain = links.walk(e.slot.entry.startLink, out.limit_);
        for (SectorLink link : e.chain.sectors)
            out.claim(link, Owner::of(i));
    }
    if (!sir.firstFree.isNull())
        out.free_ = links.walk(sir.firstFree, out.limit_);
    for (SectorLink link : out.free_.sectors)
        out.claim(link, {OwnerKind::Free});
    status = out.findDetached(image, links);
    out.freeDamage_ = out.findFreeDamage();
    return status.ok() ? links.status() : status;
}

ChainDamage SectorMap::findFreeDamage() const {
    const std::uint16_t count = sir_.freeSectorCount;
    if (sir_.firstFree.isNull()) {
        if (count == 0)
            return {};
        return {FreeDamaged + "it is empty but the SIR counts " + std::to_string(count) +
                    " free sectors",
                true};
    }
    if (free_.end != ChainWalk::End::Null)
        return {FreeDamaged + chainProblemText(free_), true};
    const std::span<const SectorLink> chain = freeChain();
    for (SectorLink link : chain)
        if (link.track == 0)
            return {FreeDamaged + onTrackZero("its", link), true};
    for (SectorLink link : chain)
        if (std::string other = otherOwner(link, {OwnerKind::Free}); !other.empty())
            return {FreeDamaged + other, true};
    if (chain.size() != count)
        return {FreeDamaged + "it holds " + std::to_string(chain.size()) +
                    " sectors, the SIR counts " + std::to_string(count),
                true};
    if (chain.back() != sir_.lastFree)
        return {FreeDamaged + "it ends at " + linkText(chain.back()) + ", the SIR says " +
                    linkText(sir_.lastFree),
                true};
    return {};
}

ChainDamage SectorMap::chainDamage(std::size_t entry) const {
    const MappedEntry& e = entries_[entry];
    const ChainWalk& walk = e.chain;
    const DirectoryEntry& record = e.slot.entry;
    if (walk.end != ChainWalk::End::Null)
        return {chainProblemText(walk)};
    for (SectorLink link : walk.sectors)
        if (link.track == 0)
            return {onTrackZero("its", link)};
    if (!walk.sectors.empty() && walk.sectors.back() != record.endLink)
        return {"its chain ends at " + linkText(walk.sectors.back()) + ", not at " +
                linkText(record.endLink)};
    if (walk.sectors.empty() && !record.endLink.isNull())
        return {"its chain is empty but its last sector is " + linkText(record.endLink)};
    if (walk.sectors.size() != record.sectorCount)
        return {"its chain holds " + std::to_string(walk.sectors.size()) +
                " sectors, the directory says " + std::to_string(record.sectorCount)};
    for (SectorLink link : walk.sectors)
        if (std::string other = otherOwner(link, Owner::of(entry)); !other.empty())
            return {other, ownedBy(link, {OwnerKind::Free})};
    return {};
}

ChainDamage SectorMap::recordsDamage(std::size_t slot) const {
    if (slot != NoEntry) {
        const SectorLink sector = entries_[slot].slot.sector;
        if (std::string other = otherOwner(sector, {OwnerKind::Directory}, "the directory's");
            !other.empty())
            return {other};
    }
    const SectorLink sirSector{0, 3};
    return {otherOwner(sirSector, {OwnerKind::System}, "the SIR's")};
}

void SectorMap::recordImport(std::size_t slot, const DirectoryEntry& entry, std::size_t taken,
                             const SystemInformationRecord& sirAfter) {
    MappedEntry& e = entries_[slot];
    e.slot.entry = entry;
    makeLive(slot);
    e.detached.clear();
    e.chain = {};
    e.chain.sectors.assign(freeChain().begin(),
                           freeChain().begin() + static_cast<std::ptrdiff_t>(taken));
    for (SectorLink link : e.chain.sectors)
        reassign(link, {OwnerKind::Free}, Owner::of(slot));
    freeHead_ += taken;
    if (sirAfter.firstFree.isNull()) {
        free_ = {};
        freeHead_ = 0;
    }
    sir_ = sirAfter;
    if (slot != endSlot_)
        return;
    // The directory goes on after the slot: up to the next unused one, which ends it now.
    endSlot_ = NoEntry;
    for (std::size_t next = slot + 1; next < entries_.size(); ++next) {
        if (entries_[next].state == EntryState::Unused) {
            endSlot_ = next;
            return;
        }
        if (entries_[next].state == EntryState::AfterEnd)
            makeLive(next);
    }
}

void SectorMap::recordDelete(std::size_t entry, const SystemInformationRecord& sirAfter) {
    MappedEntry& e = entries_[entry];
    for (SectorLink link : e.chain.sectors)
        reassign(link, Owner::of(entry), {OwnerKind::Free});
    if (sir_.firstFree.isNull()) {
        free_ = {};
        freeHead_ = 0;
    }
    free_.sectors.insert(free_.sectors.end(), e.chain.sectors.begin(), e.chain.sectors.end());
    const auto [from, to] = live_.equal_range(key(e.slot.entry.name(), e.slot.entry.ext()));
    for (auto at = from; at != to; ++at)
        if (at->second == entry) {
            live_.erase(at);
            break;
        }
    e.state = EntryState::Deleted;
    e.slot.entry.fileName[0] = 0xFF;
    e.chain = {};
    sir_ = sirAfter;
}

void SectorMap::recordGrowth(std::uint32_t sectorOffset, const SystemInformationRecord& sirAfter) {
    const SectorLink sector = freeChain().front();
    reassign(sector, {OwnerKind::Free}, {OwnerKind::Directory});
    directory_.sectors.push_back(sector);
    ++freeHead_;
    if (sirAfter.firstFree.isNull()) {
        free_ = {};
        freeHead_ = 0;
    }
    endSlot_ = entries_.size();
    for (int index = 0; index < EntriesPerSector; ++index) {
        MappedEntry& e = entries_.emplace_back();
        e.slot = {sectorOffset +
                      static_cast<std::uint32_t>(DirectoryHeaderSize + DirectoryEntrySize * index),
                  sector,
                  index,
                  {}};
    }
    sir_ = sirAfter;
}

Status SectorMap::buildForChange(DiskImage& image, SystemInformationRecord& sir, SectorMap& out) {
    Status status = image.readSirForChange(sir);
    return status.ok() ? build(image, sir, out) : status;
}

Status SessionMap::know(DiskImage& image) {
    SystemInformationRecord sir;
    if (Status status = image.readSirForChange(sir); !status.ok())
        return status;
    if (known_ && image.writeCount() == writes_ && sir == map_.sir() && image.fileSize() == size_)
        return {};
    known_ = false;
    Status status = SectorMap::build(image, sir, map_);
    if (!status.ok())
        return status;
    known_ = true;
    writes_ = image.writeCount();
    size_ = image.fileSize();
    return {};
}

} // namespace dw
