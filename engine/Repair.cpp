#include "engine/Repair.h"

#include "engine/HostFile.h"
#include "engine/SectorMap.h"

#include <algorithm>
#include <filesystem>
#include <ostream>

#include <sys/stat.h>

namespace dw {

namespace {

// A sector the repair must leave out of the free chain although no file's chain or directory
// sector holds it: one that an entry after the directory's end, or a damaged entry, names.
bool namedBy(const SectorMap& map, Owner owner, SectorLink link) {
    if (owner.kind == OwnerKind::Free)
        return true;
    if (owner.kind != OwnerKind::Entry)
        return false;
    const MappedEntry& e = map.entries()[owner.entry];
    return e.state != EntryState::Live ||
           std::find(e.detached.begin(), e.detached.end(), link) != e.detached.end();
}

bool namedOnly(const SectorMap& map, SectorLink link) {
    if (!namedBy(map, map.firstOwner(link), link))
        return false; // the common case, told without a list of owners
    return std::ranges::all_of(map.owners(link),
                               [&](Owner owner) { return namedBy(map, owner, link); });
}

std::vector<SectorLink> except(const std::vector<SectorLink>& sectors,
                               const std::vector<SectorLink>& others) {
    std::vector<SectorLink> sorted = others;
    std::sort(sorted.begin(), sorted.end());
    std::vector<SectorLink> result;
    for (SectorLink link : sectors)
        if (!std::binary_search(sorted.begin(), sorted.end(), link))
            result.push_back(link);
    return result;
}

// Every data sector within the geometry: free when nobody but the free chain holds it, kept
// when only entries that name it do.
void sortSectors(DiskImage& image, const SectorMap& map, RepairPlan& plan) {
    for (int track = 1; track <= map.sir().maxTrack; ++track)
        for (int sector = 1; sector <= map.sir().maxSector; ++sector) {
            const SectorLink link{static_cast<std::uint8_t>(track),
                                  static_cast<std::uint8_t>(sector)};
            if (!image.contains(link))
                continue;
            if (!map.owned(link) || map.ownedOnlyBy(link, {OwnerKind::Free}))
                plan.chain.push_back(link);
            else if (namedOnly(map, link))
                plan.kept.push_back(link);
        }
}

// The links of the new chain that differ from what its sectors hold now.
Status countRelinks(DiskImage& image, RepairPlan& plan) {
    for (std::size_t i = 0; i < plan.chain.size(); ++i) {
        const SectorLink next = i + 1 < plan.chain.size() ? plan.chain[i + 1] : SectorLink{};
        SectorLink current;
        if (Status status = image.readLink(plan.chain[i], current); !status.ok())
            return status;
        plan.relinked += current != next;
    }
    return {};
}

} // namespace

Status planRepair(DiskImage& image, RepairPlan& plan) {
    plan = RepairPlan{};
    const ImageRead hold(image);
    if (!hold.status().ok())
        return hold.status();
    SystemInformationRecord sir;
    Status status = image.readSirForChange(sir);
    SectorMap map;
    if (status.ok())
        status = SectorMap::build(image, sir, map);
    if (!status.ok())
        return status;
    // Files past a break in the directory would seem to own nothing.
    if (!map.directoryStatus().ok())
        return {ErrorCode::Damaged, map.directoryStatus().text() + "; nothing was repaired"};
    if (const ChainDamage damage = map.recordsDamage(SectorMap::NoEntry))
        return {ErrorCode::Damaged, "The" + damage.text.substr(3) + "; nothing was repaired"};

    sortSectors(image, map, plan);
    const ChainWalk& old = map.freeWalk();
    if (old.end != ChainWalk::End::Null)
        plan.oldChainProblem = chainProblemText(old);
    plan.added = except(plan.chain, old.sectors);
    plan.dropped = except(old.sectors, plan.chain);
    plan.before = sir;
    plan.after = sir;
    plan.after.firstFree = plan.chain.empty() ? SectorLink{} : plan.chain.front();
    plan.after.lastFree = plan.chain.empty() ? SectorLink{} : plan.chain.back();
    plan.after.freeSectorCount = static_cast<std::uint16_t>(plan.chain.size());
    // A sound free chain keeps its order: only a chain that misses sectors, holds others, or
    // disagrees with the SIR is rebuilt.
    plan.needed = !plan.oldChainProblem.empty() || !plan.added.empty() || !plan.dropped.empty() ||
                  sir.freeSectorCount != old.sectors.size() ||
                  sir.lastFree != (old.sectors.empty() ? SectorLink{} : old.sectors.back());
    return plan.needed ? countRelinks(image, plan) : Status{};
}

Status applyRepair(DiskImage& image, const RepairPlan& plan) {
    if (!plan.needed)
        return {};
    ImageChange change(image);
    if (!change.status().ok())
        return change.status();
    for (std::size_t i = 0; i < plan.chain.size(); ++i) {
        const SectorLink next = i + 1 < plan.chain.size() ? plan.chain[i + 1] : SectorLink{};
        SectorLink current;
        Status status = image.readLink(plan.chain[i], current);
        if (status.ok() && current != next)
            status = image.writeLink(plan.chain[i], next);
        if (!status.ok())
            return status;
    }
    if (plan.before != plan.after) {
        Status status = image.writeSir(plan.after);
        if (!status.ok())
            return status;
    }
    return change.commit();
}

Status copyImageTo(DiskImage& image, const std::string& path) {
    const ImageRead hold(image);
    if (!hold.status().ok())
        return hold.status();
    // Never onto anything that is there, a device or pipe included.
    Status exists{ErrorCode::Exists, path + " exists already; nothing was changed"};
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(path, error)))
        return exists;
    // It holds the image's bytes: as readable as the image, no more.
    struct stat original {};
    const unsigned mode =
        ::stat(image.path().c_str(), &original) == 0 ? (original.st_mode & 0666) : 0644;
    constexpr std::uint64_t Slice = std::uint64_t{1024} * 1024;
    std::vector<std::uint8_t> slice;
    Status copied = writeHostFile(
        path, false,
        [&](std::ostream& out) {
            for (std::uint64_t at = 0; at < image.fileSize(); at += Slice) {
                slice.resize(static_cast<std::size_t>(std::min(Slice, image.fileSize() - at)));
                if (Status read = image.readAt(at, slice); !read.ok())
                    return read;
                out.write(reinterpret_cast<const char*>(slice.data()),
                          static_cast<std::streamsize>(slice.size()));
                if (!out)
                    return Status{ErrorCode::WriteFailed, path};
            }
            return Status{};
        },
        mode);
    if (copied.ok() || copied.code() == ErrorCode::ReadFailed)
        return copied;
    if (copied.code() == ErrorCode::Exists)
        return exists;
    return {ErrorCode::WriteFailed, "Unable to write the copy " + path + "; nothing was changed"};
}

} // namespace dw
