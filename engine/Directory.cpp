#include "engine/Directory.h"

namespace dw {

bool DirectoryWalk::next(DirectorySlot& slot) {
    if (atEnd_ || !status_.ok())
        return false;
    while (index_ >= EntriesPerSector) {
        if (pending_.namesNoSector()) {
            atEnd_ = true;
            return false;
        }
        if (!visited_.insert(pending_).second) {
            status_ = {ErrorCode::Damaged, "The directory chain is damaged: it returns to sector " +
                                               linkText(pending_)};
            return false;
        }
        if (!image_.contains(pending_)) {
            status_ = {ErrorCode::Damaged, "The directory chain is damaged: link " +
                                               linkText(pending_) + " lies outside the disk image"};
            return false;
        }
        status_ = image_.readSector(pending_, bytes_);
        if (!status_.ok())
            return false;
        sector_ = pending_;
        pending_ = getLink(bytes_.data());
        index_ = 0;
    }
    const int at = DirectoryHeaderSize + DirectoryEntrySize * index_;
    slot = {image_.SectorOffset(sector_) + static_cast<std::uint32_t>(at), sector_, index_,
            DirectoryEntry::parse(bytes_.data() + at)};
    ++index_;
    atEnd_ = slot.entry.isEndOfDirectory();
    return true;
}

Status walkDirectory(DiskImage& image,
                     const std::function<SlotAction(const DirectorySlot&)>& visit) {
    DirectoryWalk walk(image);
    DirectorySlot slot;
    while (walk.next(slot)) {
        const SlotAction action = visit(slot);
        if (action == SlotAction::Stop)
            return {};
        if (action == SlotAction::SkipSector)
            walk.skipSector();
    }
    return walk.status();
}

Status readListing(DiskImage& image, Listing& out) {
    out = Listing{};
    const ImageRead hold(image);
    if (!hold.status().ok())
        return hold.status();
    SystemInformationRecord sir;
    Status status = image.readSir(sir);
    if (!status.ok())
        return status;
    out.sir = sir;
    return walkDirectory(image, [&](const DirectorySlot& slot) {
        if (slot.entry.isLive())
            out.entries.push_back(slot.entry);
        return SlotAction::Continue;
    });
}

} // namespace dw
