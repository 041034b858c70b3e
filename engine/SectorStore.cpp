#include "engine/SectorStore.h"

#include "engine/KillPoint.h"

#include <algorithm>
#include <array>

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <io.h>
#endif

namespace dw {

namespace {
#ifdef _WIN32
bool seekTo(std::FILE* file, std::uint64_t offset) {
    return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
}
#endif

bool overlaps(std::uint64_t aStart, std::size_t aSize, std::uint64_t bStart, std::size_t bSize) {
    return aStart < bStart + bSize && bStart < aStart + aSize;
}
} // namespace

FileStore::FileStore(std::FILE* file) : file_(file) {
    // The buffering is ours: the stream's own would keep bytes across a seek, and the C library
    // gives it 4 KiB whatever size is asked for without a buffer of the caller's.
    std::setvbuf(file_, nullptr, _IONBF, 0);
}

Status FileStore::open(const std::string& path, bool writable, std::unique_ptr<FileStore>& out) {
    auto failed = [&] {
        return Status{ErrorCode::OpenFailed, "Unable to open " + path, {}, errno};
    };
    const int fd =
        ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return failed();
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        const std::string fact = "not a regular file (a folder, device or pipe); it was not opened";
        return {ErrorCode::BadImage, "Not" + fact.substr(3), fact};
    }
    // A file its owner marked read-only stays so for the superuser too, whom the system would
    // let write it: an archive's only copy is often kept that way on purpose.
    if (writable && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        ::close(fd);
        errno = EACCES;
        return failed();
    }
    // A regular file never waits anyway: its transfers need the flag no more.
    const int flags = ::fcntl(fd, F_GETFL);
    std::FILE* file = flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0
                          ? nullptr
                          : ::fdopen(fd, writable ? "r+b" : "rb");
    if (!file) {
        Status status = failed();
        ::close(fd);
        return status;
    }
    out = std::make_unique<FileStore>(file);
    return {};
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
#ifndef _WIN32
    // Positioned transfers: no seek to pay for.
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got =
            ::pread(fileno(file_), bytes + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
#else
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
#endif
}

bool FileStore::rawWrite(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) {
#ifndef _WIN32
    return writeCounted(fileno(file_), bytes, size, offset);
#else
    if (!positionKnown_ || position_ != offset) {
        positionKnown_ = false;
        if (!seekTo(file_, offset))
            return false;
    }
    const bool written = std::fwrite(bytes, 1, size, file_) == size;
    positionKnown_ = written;
    position_ = offset + size;
    return written;
#endif
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
    // Read ahead as a walk goes on forward, little for a single look elsewhere.
    const std::uint64_t windowEnd = windowStart_ + window_.size();
    const bool onward = !window_.empty() && offset >= windowEnd && offset - windowEnd < BufferSize;
    windowSize_ = onward ? std::min(2 * windowSize_, BufferSize) : MinWindow;
    const std::size_t size = std::max(windowSize_, bytes.size());
    window_.resize(size);
    windowStart_ = offset;
    window_.resize(rawRead(offset, window_.data(), size));
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
    if (!pending_.empty() && offset >= pendingStart_ &&
        offset + bytes.size() <= pendingStart_ + pending_.size()) {
        std::copy(bytes.begin(), bytes.end(),
                  pending_.begin() + static_cast<std::ptrdiff_t>(offset - pendingStart_));
        return true;
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

LockResult FileStore::lock(LockKind kind) {
#ifndef _WIN32
    const int fd = fileno(file_);
    for (;;) {
#ifdef F_OFD_SETLK
        // Locks of the open file, not of the process: two opens in one program exclude each
        // other too, and closing another descriptor of the file keeps the lock.
        struct flock range {};
        range.l_type = kind == LockKind::Shared      ? F_RDLCK
                       : kind == LockKind::Exclusive ? F_WRLCK
                                                     : F_UNLCK;
        range.l_whence = SEEK_SET;
        if (::fcntl(fd, F_OFD_SETLK, &range) == 0)
            return LockResult::Locked;
#else
        const int operation = kind == LockKind::Shared      ? LOCK_SH | LOCK_NB
                              : kind == LockKind::Exclusive ? LOCK_EX | LOCK_NB
                                                            : LOCK_UN;
        if (::flock(fd, operation) == 0)
            return LockResult::Locked;
#endif
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EACCES || errno == EWOULDBLOCK)
            return LockResult::Busy;
        return LockResult::Unsupported;
    }
#else
    (void)kind;
    return LockResult::Unsupported;
#endif
}

bool FileStore::sync() {
    if (!flush())
        return false;
#ifndef _WIN32
    // The file's length never changes, so its data is all that must reach the disk.
    int result;
    do
        result = ::fdatasync(fileno(file_));
    while (result != 0 && errno == EINTR);
    return result == 0;
#else
    return _commit(_fileno(file_)) == 0;
#endif
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
