#include "engine/SectorStore.h"

#include <algorithm>
#include <array>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace dw {

namespace {
bool seekTo(std::FILE* file, std::uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool overlaps(std::uint64_t aStart, std::size_t aSize, std::uint64_t bStart, std::size_t bSize) {
    return aStart < bStart + bSize && bStart < aStart + aSize;
}
} // namespace

FileStore::FileStore(std::FILE* file) : file_(file) {
    // The buffering is ours: the stream's own would keep bytes across a seek, and the C library
    // gives it 4 KiB whatever size is asked for without a buffer of the caller's.
    std::setvbuf(file_, nullptr, _IONBF, 0);
}

FileStore::~FileStore() {
    writePending();
    std::fclose(file_);
}

std::uint64_t FileStore::size() {
#ifdef _WIN32
    positionKnown_ = false;
    if (_fseeki64(file_, 0, SEEK_END) != 0)
        return 0;
    const long long end = _ftelli64(file_);
    return end > 0 ? static_cast<std::uint64_t>(end) : 0;
#else
    struct stat info {};
    if (fstat(fileno(file_), &info) != 0 || info.st_size < 0)
        return 0;
    return static_cast<std::uint64_t>(info.st_size);
#endif
}

std::size_t FileStore::rawRead(std::uint64_t offset, std::uint8_t* bytes, std::size_t size) {
    if (!positionKnown_ || position_ != offset) {
        positionKnown_ = false;
        if (!seekTo(file_, offset))
            return 0;
    }
    const std::size_t got = std::fread(bytes, 1, size, file_);
    positionKnown_ = !std::ferror(file_) && !std::feof(file_);
    position_ = offset + got;
    std::clearerr(file_);
    return got;
}

bool FileStore::rawWrite(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) {
    if (!positionKnown_ || position_ != offset) {
        positionKnown_ = false;
        if (!seekTo(file_, offset))
            return false;
    }
    const bool written = std::fwrite(bytes, 1, size, file_) == size;
    positionKnown_ = written;
    position_ = offset + size;
    return written;
}

bool FileStore::writePending() {
    if (pending_.empty())
        return true;
    const bool written = rawWrite(pendingStart_, pending_.data(), pending_.size());
    pending_.clear();
    return written;
}

bool FileStore::read(std::uint64_t offset, std::span<std::uint8_t> bytes) {
    if (!pending_.empty() && overlaps(offset, bytes.size(), pendingStart_, pending_.size()) &&
        !writePending())
        return false;
    if (offset >= windowStart_ && offset - windowStart_ + bytes.size() <= window_.size()) {
        std::copy_n(window_.begin() + static_cast<std::ptrdiff_t>(offset - windowStart_),
                    bytes.size(), bytes.begin());
        return true;
    }
    if (bytes.size() >= BufferSize)
        return rawRead(offset, bytes.data(), bytes.size()) == bytes.size();
    window_.resize(BufferSize);
    windowStart_ = offset;
    window_.resize(rawRead(offset, window_.data(), BufferSize));
    if (window_.size() < bytes.size())
        return false;
    std::copy_n(window_.begin(), bytes.size(), bytes.begin());
    return true;
}

bool FileStore::write(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    // What was read ahead stays true to the file.
    if (overlaps(offset, bytes.size(), windowStart_, window_.size())) {
        const std::uint64_t from = std::max(offset, windowStart_);
        const std::uint64_t to = std::min(offset + bytes.size(), windowStart_ + window_.size());
        std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(from - offset),
                  bytes.begin() + static_cast<std::ptrdiff_t>(to - offset),
                  window_.begin() + static_cast<std::ptrdiff_t>(from - windowStart_));
    }
    if (!pending_.empty() && offset == pendingStart_ + pending_.size() &&
        pending_.size() + bytes.size() <= BufferSize) {
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
        return true;
    }
    if (!writePending())
        return false;
    if (bytes.size() >= BufferSize)
        return rawWrite(offset, bytes.data(), bytes.size());
    pendingStart_ = offset;
    pending_.assign(bytes.begin(), bytes.end());
    return true;
}

bool FileStore::flush() {
    const bool written = writePending();
    return std::fflush(file_) == 0 && written;
}

bool FileStore::forget() {
    window_.clear();
    return flush();
}

bool MemoryStore::read(std::uint64_t offset, std::span<std::uint8_t> bytes) {
    if (offset > bytes_.size() || bytes.size() > bytes_.size() - offset)
        return false;
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), bytes.size(), bytes.begin());
    return true;
}

bool MemoryStore::write(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (offset > bytes_.size() || bytes.size() > bytes_.size() - offset)
        return false;
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
}

} // namespace dw
