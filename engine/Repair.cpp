#include "engine/Repair.h"

#include "engine/Chain.h"
#include "engine/Directory.h"
#include "engine/HostFile.h"

#include <algorithm>
#include <filesystem>
#include <ostream>

#include <sys/stat.h>

namespace dw {

Status planRepair(DiskImage& image, RepairPlan& plan) {
    plan = RepairPlan{};
    const ImageRead hold(image);
    if (!hold.status().ok())
        return hold.status();
    SystemInformationRecord sir;
    Status status = image.readSirForChange(sir);
    if (!status.ok())
        return status;
    const std::size_t limit = image.fileSize() / SectorSize + 1;

    std::vector<bool> owned(256 * 256, false);
    auto claim = [&](SectorLink start) {
        for (SectorLink link : walkChain(image, start, limit).sectors)
            owned[linkIndex(link)] = true;
    };
    claim(FirstDirectorySector);
    status = walkDirectory(image, [&](const DirectorySlot& slot) {
        if (slot.entry.isLive())
            claim(slot.entry.startLink);
        return SlotAction::Continue;
    });
    if (!status.ok())
        return {status.code(), status.text() + "; nothing was repaired"};

    for (int track = 1; track <= sir.maxTrack; ++track)
        for (int sector = 1; sector <= sir.maxSector; ++sector) {
            const SectorLink link{static_cast<std::uint8_t>(track),
                                  static_cast<std::uint8_t>(sector)};
            if (image.contains(link) && !owned[linkIndex(link)])
                plan.chain.push_back(link);
        }

    const ChainWalk old =
        sir.firstFree.isNull() ? ChainWalk{} : walkChain(image, sir.firstFree, limit);
    if (old.end != ChainWalk::End::Null)
        plan.oldChainProblem = chainProblemText(old);
    std::vector<bool> inOld(256 * 256, false), inNew(256 * 256, false);
    for (SectorLink link : old.sectors)
        inOld[linkIndex(link)] = true;
    for (SectorLink link : plan.chain)
        inNew[linkIndex(link)] = true;
    for (SectorLink link : plan.chain)
        if (!inOld[linkIndex(link)])
            plan.added.push_back(link);
    for (SectorLink link : old.sectors)
        if (!inNew[linkIndex(link)])
            plan.dropped.push_back(link);

    plan.before = sir;
    plan.after = sir;
    plan.after.firstFree = plan.chain.empty() ? SectorLink{} : plan.chain.front();
    plan.after.lastFree = plan.chain.empty() ? SectorLink{} : plan.chain.back();
    plan.after.freeSectorCount = static_cast<std::uint16_t>(plan.chain.size());

    // A sound free chain keeps its order: only a chain that misses sectors, holds others, or
    // disagrees with the SIR is rebuilt.
    const bool sound =
        plan.oldChainProblem.empty() && plan.added.empty() && plan.dropped.empty() &&
        sir.freeSectorCount == old.sectors.size() &&
        (old.sectors.empty() ? sir.lastFree.isNull() : sir.lastFree == old.sectors.back());
    if (sound)
        return {};
    plan.needed = true;
    for (std::size_t i = 0; i < plan.chain.size(); ++i) {
        const SectorLink next = i + 1 < plan.chain.size() ? plan.chain[i + 1] : SectorLink{};
        SectorLink current;
        status = image.readLink(plan.chain[i], current);
        if (!status.ok())
            return status;
        plan.relinked += current != next;
    }
    return {};
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
    const Status exists{ErrorCode::Exists, path + " exists already; nothing was changed"};
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(path, error)))
        return exists;
    // It holds the image's bytes: as readable as the image, no more.
    struct stat original {};
    const unsigned mode =
        ::stat(image.path().c_str(), &original) == 0 ? (original.st_mode & 0666) : 0644;
    constexpr std::uint64_t Slice = 1024 * 1024;
    std::vector<std::uint8_t> slice;
    const Status copied = writeHostFile(
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
