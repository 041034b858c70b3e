#include "engine/PendingWrites.h"

#include <algorithm>
#include <cstring>

namespace dw {

void PendingWrites::start(std::uint64_t size, std::uint64_t base) {
    clear();
    started_ = true;
    size_ = size;
    base_ = std::min(base, size);
    flags_.assign(static_cast<std::size_t>((size_ - base_ + BlockSize - 1) / BlockSize), 0);
}

void PendingWrites::clear() {
    started_ = false;
    dirtyBlocks_ = 0;
    flags_.clear();
    freeLinks_.clear();
    blocks_.clear();
}

std::uint64_t PendingWrites::blockEnd(std::size_t block) const {
    return std::min<std::uint64_t>(blockStart(block) + BlockSize, size_);
}

bool PendingWrites::read(SectorStore& store, std::uint64_t offset,
                         std::span<std::uint8_t> bytes) const {
    if (dirtyBlocks_ == 0)
        return store.read(offset, bytes);
    const std::uint64_t end = offset + bytes.size();
    if (end > size_)
        return false;
    std::uint64_t pos = offset;
    auto fromStore = [&](std::uint64_t to) {
        const bool read = store.read(pos, bytes.subspan(pos - offset, to - pos));
        pos = to;
        return read;
    };
    if (pos < base_ && !fromStore(std::min(end, base_)))
        return false;
    while (pos < end) {
        std::size_t block = blockOf(pos);
        if (flags_[block] & Dirty) {
            const std::uint64_t to = std::min(end, blockEnd(block));
            std::memcpy(bytes.data() + (pos - offset), dataAt(pos), to - pos);
            pos = to;
            continue;
        }
        // A run of blocks the change did not write: one read.
        std::uint64_t to = std::min(end, blockEnd(block));
        while (to < end && !(flags_[++block] & Dirty))
            to = std::min(end, blockEnd(block));
        if (!fromStore(to))
            return false;
    }
    return true;
}

bool PendingWrites::passesThrough(std::size_t block, std::uint64_t offset,
                                  std::span<const std::uint8_t> bytes, std::uint64_t from,
                                  std::uint64_t to) const {
    if ((flags_[block] & (FreeAtStart | Dirty)) != FreeAtStart)
        return false;
    // Its link must stay what the journal would give back.
    for (std::uint64_t at = blockStart(block); at < blockStart(block) + 2; ++at)
        if (at >= from && at < to &&
            bytes[at - offset] != freeLinks_[block][at - blockStart(block)])
            return false;
    return true;
}

bool PendingWrites::write(SectorStore& store, std::uint64_t offset,
                          std::span<const std::uint8_t> bytes) {
    const std::uint64_t end = offset + bytes.size();
    if (!started_ || offset < base_ || end > size_)
        return false;
    // Data of sectors that were free goes straight to the file: nobody needs it back.
    std::uint64_t through = end; // where the bytes to write straight through begin
    auto writeThrough = [&](std::uint64_t to) {
        const bool written =
            through >= to || store.write(through, bytes.subspan(through - offset, to - through));
        through = end;
        return written;
    };
    for (std::uint64_t pos = offset; pos < end;) {
        const std::size_t block = blockOf(pos);
        const std::uint64_t to = std::min(end, blockEnd(block));
        if (passesThrough(block, offset, bytes, pos, to)) {
            through = std::min(through, pos);
            pos = to;
            continue;
        }
        if (!writeThrough(pos))
            return false;
        if (!(flags_[block] & Dirty)) {
            blocks_[block];
            const bool whole = pos == blockStart(block) && to == blockEnd(block);
            const std::uint64_t from = blockStart(block);
            if (!whole && !store.read(from, std::span(dataAt(from), blockEnd(block) - from)))
                return false;
            flags_[block] |= Dirty;
            ++dirtyBlocks_;
        }
        std::memcpy(dataAt(pos), bytes.data() + (pos - offset), to - pos);
        pos = to;
    }
    return writeThrough(end);
}

void PendingWrites::takeFree(std::uint64_t offset, std::array<std::uint8_t, 2> link) {
    if (!started_ || offset < base_ || offset + 2 > size_)
        return;
    const std::size_t block = blockOf(offset);
    if (blockStart(block) != offset || (flags_[block] & (Dirty | Freed | FreeAtStart)))
        return;
    if (freeLinks_.empty())
        freeLinks_.resize(flags_.size());
    freeLinks_[block] = link;
    flags_[block] |= FreeAtStart;
}

void PendingWrites::markFreed(std::uint64_t offset) {
    if (started_ && offset >= base_ && offset < size_)
        flags_[blockOf(offset)] |= Freed;
}

bool PendingWrites::originals(SectorStore& store, std::vector<JournalRecord>& out) const {
    out.clear();
    for (std::size_t block = 0; block < flags_.size(); ++block) {
        if (!(flags_[block] & Dirty))
            continue;
        const std::uint64_t from = blockStart(block);
        if (flags_[block] & FreeAtStart) {
            const std::array<std::uint8_t, 2>& link = freeLinks_[block];
            if (!std::equal(link.begin(), link.end(), dataAt(from)))
                out.push_back({from, {link.begin(), link.end()}});
            continue;
        }
        std::size_t last = block;
        while (last + 1 < flags_.size() && (flags_[last + 1] & (Dirty | FreeAtStart)) == Dirty)
            ++last;
        JournalRecord record{from, std::vector<std::uint8_t>(blockEnd(last) - from)};
        if (!store.read(from, record.bytes))
            return false;
        out.push_back(std::move(record));
        block = last;
    }
    return true;
}

bool PendingWrites::writeTo(SectorStore& store) const {
    std::vector<std::uint8_t> run;
    for (std::size_t block = 0; block < flags_.size(); ++block) {
        if (!(flags_[block] & Dirty))
            continue;
        run.clear();
        const std::uint64_t from = blockStart(block);
        for (; block < flags_.size() && (flags_[block] & Dirty); ++block) {
            const std::uint8_t* held = dataAt(blockStart(block));
            run.insert(run.end(), held, held + (blockEnd(block) - blockStart(block)));
        }
        if (!store.write(from, run))
            return false;
    }
    return true;
}

} // namespace dw
