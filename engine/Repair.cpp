#include "engine/Repair.h"

#include "engine/Chain.h"
#include "engine/Directory.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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
    std::vector<std::uint8_t> bytes(image.fileSize());
    Status status = image.readAt(0, bytes);
    if (!status.ok())
        return status;
    const Status failed{ErrorCode::WriteFailed,
                        "Unable to write the copy " + path + "; nothing was changed"};
#ifndef _WIN32
    struct stat original {};
    const mode_t mode =
        ::stat(image.path().c_str(), &original) == 0 ? (original.st_mode & 0666) : 0644;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0)
        return errno == EEXIST
                   ? Status{ErrorCode::Exists, path + " exists already; nothing was changed"}
                   : failed;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            break;
        done += static_cast<std::size_t>(put);
    }
    const bool written = done == bytes.size() && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written) {
        ::unlink(path.c_str());
        return failed;
    }
    return {};
#else
    if (std::FILE* existing = std::fopen(path.c_str(), "rb")) {
        std::fclose(existing);
        return {ErrorCode::Exists, path + " exists already; nothing was changed"};
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return failed;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::remove(path.c_str());
        return failed;
    }
    return {};
#endif
}

} // namespace dw
