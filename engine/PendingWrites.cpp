#include "engine/PendingWrites.h"

#include <algorithm>
#include <cstring>

#include <sys/mman.h>

namespace dw {

void PendingWrites::Unmap::operator()(std::uint8_t* memory) const {
    ::munmap(memory, MostBlocks * BlockSize);
}

void PendingWrites::start(std::uint64_t size, std::uint64_t base) {
    clear();
    started_ = true;
    size_ = size;
    base_ = std::min(base, size);
}

void PendingWrites::clear() {
    started_ = false;
    slot_.clear();
    heldBlocks_ = 0;
    flags_.clear();
    freeLinks_.clear();
}

std::uint64_t PendingWrites::blockEnd(std::size_t block) const {
    return std::min<std::uint64_t>(blockStart(block) + BlockSize, size_);
}

bool PendingWrites::read(SectorStore& store, std::uint64_t offset,
                         std::span<std::uint8_t> bytes) const {
    if (heldBlocks_ == 0)
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
        if (written(block)) {
            const std::uint64_t to = std::min(end, blockEnd(block));
            std::memcpy(bytes.data() + (pos - offset), heldBlock(block) + (pos - blockStart(block)),
                        to - pos);
            pos = to;
            continue;
        }
        // A run of blocks the change did not write: one read.
        std::uint64_t to = std::min(end, blockEnd(block));
        while (to < end && !written(++block))
            to = std::min(end, blockEnd(block));
        if (!fromStore(to))
            return false;
    }
    return true;
}

bool PendingWrites::hold() {
    if (held_)
        return true;
    constexpr std::size_t Held = MostBlocks * BlockSize;
    void* mapped = ::mmap(nullptr, Held + LargePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return false;
    // Cut to start on a large page: the slack before and after goes back at once, so what
    // stays is exactly what Unmap gives back.
    auto* const first = static_cast<std::uint8_t*>(mapped);
    const std::size_t lead =
        (LargePage - reinterpret_cast<std::uintptr_t>(first) % LargePage) % LargePage;
    if (lead != 0)
        ::munmap(first, lead);
    ::munmap(first + lead + Held, LargePage - lead);
    held_.reset(first + lead);
#ifdef MADV_HUGEPAGE
    ::madvise(held_.get(), Held, MADV_HUGEPAGE);
#endif
    return true;
}

bool PendingWrites::write(SectorStore& store, std::uint64_t offset,
                          std::span<const std::uint8_t> bytes) {
    const std::uint64_t end = offset + bytes.size();
    if (!started_ || offset < base_ || end > size_ || !hold())
        return false;
    for (std::uint64_t pos = offset; pos < end;) {
        const std::size_t block = blockOf(pos);
        const std::uint64_t to = std::min(end, blockEnd(block));
        if (!written(block)) {
            if (heldBlocks_ == MostBlocks)
                return false;
            if (slot_.size() <= block)
                slot_.resize(block + 1, 0);
            slot_[block] = static_cast<std::uint32_t>(++heldBlocks_);
            const std::uint64_t from = blockStart(block);
            const bool whole = pos == from && to == blockEnd(block);
            if (!whole && !store.read(from, std::span(heldBlock(block), blockEnd(block) - from))) {
                slot_[block] = 0;
                --heldBlocks_;
                return false;
            }
        }
        std::memcpy(heldBlock(block) + (pos - blockStart(block)), bytes.data() + (pos - offset),
                    to - pos);
        pos = to;
    }
    return true;
}

void PendingWrites::takeFree(std::uint64_t offset, std::array<std::uint8_t, 2> link) {
    if (!started_ || offset < base_ || offset + 2 > size_)
        return;
    const std::size_t block = blockOf(offset);
    if (blockStart(block) != offset || written(block) || flags(block) != 0)
        return;
    flags_.resize(std::max(flags_.size(), block + 1), 0);
    freeLinks_.resize(flags_.size());
    flags_[block] = FreeAtStart;
    freeLinks_[block] = link;
}

void PendingWrites::markFreed(std::uint64_t offset) {
    if (!started_ || offset < base_ || offset >= size_)
        return;
    const std::size_t block = blockOf(offset);
    flags_.resize(std::max(flags_.size(), block + 1), 0);
    flags_[block] |= Freed;
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> PendingWrites::regionsToKeep() const {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> found;
    for (std::size_t block = 0; block < slot_.size(); ++block) {
        if (!written(block))
            continue;
        const std::uint64_t from = blockStart(block);
        if (flags(block) & FreeAtStart) {
            const std::array<std::uint8_t, 2>& link = freeLinks_[block];
            const std::uint8_t* held = heldBlock(block);
            if (held[0] != link[0] || held[1] != link[1])
                found.emplace_back(from, link.size());
            continue;
        }
        while (written(block + 1) && !(flags(block + 1) & FreeAtStart))
            ++block;
        found.emplace_back(from, blockEnd(block) - from);
    }
    return found;
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> PendingWrites::runs() const {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> found;
    for (std::size_t block = 0; block < slot_.size(); ++block) {
        if (!written(block))
            continue;
        const std::uint64_t from = blockStart(block);
        while (written(block + 1))
            ++block;
        found.emplace_back(from, blockEnd(block) - from);
    }
    return found;
}

bool PendingWrites::writeTo(SectorStore& store) const {
    for (const auto& [offset, length] : runs()) {
        // Blocks held side by side (written in file order) go in one transfer.
        for (std::size_t block = blockOf(offset); blockStart(block) < offset + length; ++block) {
            const std::uint8_t* from = heldBlock(block);
            const std::uint64_t start = blockStart(block);
            while (blockEnd(block) < offset + length &&
                   heldBlock(block + 1) == heldBlock(block) + BlockSize)
                ++block;
            if (!store.write(start, std::span(from, blockEnd(block) - start)))
                return false;
        }
    }
    return true;
}

} // namespace dw
