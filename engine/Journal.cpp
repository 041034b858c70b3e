#include "engine/Journal.h"

#include "engine/KillPoint.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif

namespace dw {

namespace {

// The first format (records without hashes) is still read; the current one is written.
constexpr std::array<std::uint8_t, 8> FirstMagic{'D', 'W', 'J', 'R', 'N', 'L', '0', '1'};
constexpr std::array<std::uint8_t, 8> Magic{'D', 'W', 'J', 'R', 'N', 'L', '0', '2'};
constexpr std::array<std::uint8_t, 8> EndMagic{'D', 'W', 'J', 'R', 'N', 'L', 'O', 'K'};
constexpr std::size_t HeaderSize = 8 + 8 + 4;
constexpr std::size_t TrailerSize = 8 + 8;

void put(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(bytes));
    for (int i = 0; i < bytes; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t get(const std::uint8_t* at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | at[i];
    return value;
}

// The first format's checksum.
std::uint64_t fnv1a(const std::uint8_t* bytes, std::size_t size) {
    std::uint64_t hash = 14695981039346656037ull;
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

// Eight bytes a step: the journal of a large replacement hashes megabytes.
std::uint64_t hashOf(const std::uint8_t* bytes, std::size_t size) {
    std::uint64_t hash = 0x9E3779B97F4A7C15ull ^ size;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        hash = (hash ^ get(bytes + i, 8)) * 0xFF51AFD7ED558CCDull;
        hash ^= hash >> 31;
    }
    for (; i < size; ++i)
        hash = (hash ^ bytes[i]) * 0x100000001B3ull;
    return hash ^ (hash >> 29);
}

// Calls `piece(from, to)` for the bytes [from, to) of a region at `offset` that lie in each
// piece of the file.
template <class Piece> void forEachPiece(std::uint64_t offset, std::size_t size, Piece piece) {
    for (std::size_t from = 0; from < size;) {
        const std::uint64_t pieceEnd = (offset + from) / JournalPiece * JournalPiece + JournalPiece;
        const auto to = static_cast<std::size_t>(std::min<std::uint64_t>(size, pieceEnd - offset));
        piece(from, to);
        from = to;
    }
}

// Reads a journal's fields in order; each take fails rather than read past its end.
class Fields {
public:
    explicit Fields(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    bool take(int size, std::uint64_t& value) {
        if (left() < static_cast<std::size_t>(size))
            return false;
        value = get(bytes_.data() + at_, size);
        at_ += static_cast<std::size_t>(size);
        return true;
    }
    bool takeBytes(std::size_t size, std::vector<std::uint8_t>& out) {
        if (left() < size)
            return false;
        out.insert(out.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at_),
                   bytes_.begin() + static_cast<std::ptrdiff_t>(at_ + size));
        at_ += size;
        return true;
    }
    std::size_t left() const { return bytes_.size() - at_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

int syncFile(int fd, bool dataOnly) {
    int result;
    do
        result = dataOnly ? ::fdatasync(fd) : ::fsync(fd);
    while (result != 0 && errno == EINTR);
    return result;
}

// Where a new file's own sync also makes its name durable (the journalling file systems commit
// the name's creation with it), the folder need not be synced as well.
bool nameSyncsWithFile(int fd) {
#ifdef __linux__
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0)
        return false;
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0xEF53:     // ext2/3/4 (ext4 without a journal syncs the folder of a new file itself)
    case 0x58465342: // xfs
    case 0x9123683E: // btrfs
        return true;
    default:
        return false;
    }
#else
    (void)fd;
    return false;
#endif
}

// A name made or removed in a folder is durable only once the folder itself is synced.
bool syncFolderOf(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    const std::filesystem::path folder = parent.empty() ? std::filesystem::path(".") : parent;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = syncFile(fd, false) == 0 || errno == EINVAL; // some cannot
    ::close(fd);
    return synced;
}

Status journalFailed(const std::string& path) {
    return {ErrorCode::WriteFailed,
            "Unable to write the rollback journal " + path + "; nothing was changed"};
}

Status unreadable(const std::string& path) {
    return {ErrorCode::ReadFailed, "Unable to read the rollback journal " + path +
                                       " of an interrupted change; nothing was changed"};
}

// Renames without ever replacing what is at `to`.
bool moveAside(const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    return ::link(from, to) == 0 && ::unlink(from) == 0;
}

} // namespace

std::string journalPathFor(const std::string& imagePath) {
    return imagePath + "-journal";
}

JournalBuilder::JournalBuilder(std::uint64_t imageSize) : bytes_(Magic.begin(), Magic.end()) {
    put(bytes_, imageSize, 8);
    put(bytes_, 0, 4); // the count, set by finish
}

void JournalBuilder::add(std::uint64_t offset, std::span<const std::uint8_t> found,
                         std::span<const std::uint8_t> written) {
    ++records_;
    put(bytes_, offset, 8);
    put(bytes_, found.size(), 4);
    bytes_.insert(bytes_.end(), found.begin(), found.end());
    forEachPiece(offset, written.size(), [&](std::size_t from, std::size_t to) {
        put(bytes_, hashOf(written.data() + from, to - from), 8);
    });
}

std::vector<std::uint8_t> JournalBuilder::finish() {
    for (int i = 0; i < 4; ++i)
        bytes_[16 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(records_ >> (8 * i));
    put(bytes_, hashOf(bytes_.data(), bytes_.size()), 8);
    bytes_.insert(bytes_.end(), EndMagic.begin(), EndMagic.end());
    return std::move(bytes_);
}

Status writeJournal(const std::string& path, const std::string& imagePath,
                    const std::vector<std::uint8_t>& bytes) {
    // It holds the image's bytes: as readable as the image, no more.
    struct stat image {};
    const mode_t mode = ::stat(imagePath.c_str(), &image) == 0 ? (image.st_mode & 0666) : 0600;
    // Without waiting: a pipe put at its name refuses the journal instead of blocking.
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, mode);
    if (fd < 0)
        return journalFailed(path);
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const bool written =
        regular && writeCounted(fd, bytes.data(), bytes.size(), 0) && syncFile(fd, true) == 0;
    const bool named = written && (nameSyncsWithFile(fd) || syncFolderOf(path));
    const bool closed = ::close(fd) == 0;
    if (!written || !named || !closed) {
        if (regular)
            ::unlink(path.c_str());
        return journalFailed(path);
    }
    return {};
}

JournalState decodeJournal(std::span<const std::uint8_t> bytes, std::uint64_t imageSize,
                           Journal& out) {
    out = {};
    if (bytes.size() < HeaderSize + TrailerSize ||
        !std::equal(EndMagic.begin(), EndMagic.end(), bytes.end() - 8))
        return JournalState::Incomplete;
    const bool first = std::equal(FirstMagic.begin(), FirstMagic.end(), bytes.begin());
    if (!first && !std::equal(Magic.begin(), Magic.end(), bytes.begin()))
        return JournalState::Incomplete;
    const std::size_t body = bytes.size() - TrailerSize;
    const std::uint64_t sum = first ? fnv1a(bytes.data(), body) : hashOf(bytes.data(), body);
    if (get(bytes.data() + body, 8) != sum)
        return JournalState::Incomplete;

    out.identifies = !first;
    Fields fields(bytes.subspan(8, body - 8));
    std::uint64_t count = 0;
    fields.take(8, out.imageSize);
    fields.take(4, count);
    if (out.imageSize != imageSize)
        return JournalState::Complete; // of another image: its records are never needed
    for (std::uint64_t i = 0; i < count; ++i) {
        JournalRecord record;
        std::uint64_t size = 0;
        if (!fields.take(8, record.offset) || !fields.take(4, size) || record.offset > imageSize ||
            size > imageSize - record.offset)
            return JournalState::Incomplete;
        if (!fields.takeBytes(static_cast<std::size_t>(size), record.bytes))
            return JournalState::Incomplete;
        bool whole = true;
        if (!first)
            forEachPiece(record.offset, record.bytes.size(), [&](std::size_t, std::size_t) {
                std::uint64_t hash = 0;
                whole = whole && fields.take(8, hash);
                record.newHashes.push_back(hash);
            });
        if (!whole)
            return JournalState::Incomplete;
        out.records.push_back(std::move(record));
    }
    if (fields.left() != 0) {
        out.records.clear();
        return JournalState::Incomplete;
    }
    return JournalState::Complete;
}

Status readJournal(const std::string& path, std::uint64_t imageSize, JournalState& state,
                   Journal& out) {
    state = JournalState::None;
    out = {};
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, error)))
        return {};
    // Without waiting, and only a regular file: a pipe put at its name must not block.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return unreadable(path);
    struct stat info {};
    std::vector<std::uint8_t> bytes;
    bool failed = ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode);
    std::array<std::uint8_t, std::size_t{64} * 1024> chunk{};
    while (!failed) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR)
            continue;
        failed = got < 0;
        if (got <= 0)
            break;
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
    }
    ::close(fd);
    if (failed)
        return unreadable(path);
    state = decodeJournal(bytes, imageSize, out);
    return {};
}

bool holdsOldOrNew(const JournalRecord& record, std::span<const std::uint8_t> now) {
    if (record.newHashes.empty() || now.size() != record.bytes.size())
        return record.newHashes.empty();
    bool holds = true;
    std::size_t piece = 0;
    forEachPiece(record.offset, now.size(), [&](std::size_t from, std::size_t to) {
        holds = holds && (std::equal(now.begin() + static_cast<std::ptrdiff_t>(from),
                                     now.begin() + static_cast<std::ptrdiff_t>(to),
                                     record.bytes.begin() + static_cast<std::ptrdiff_t>(from)) ||
                          hashOf(now.data() + from, to - from) == record.newHashes[piece]);
        ++piece;
    });
    return holds;
}

Status removeJournal(const std::string& path) {
    countStep();
    const Status failed{ErrorCode::WriteFailed, "Unable to remove the rollback journal " + path};
    // Gone already: set aside by a command that replaced the image.
    if (std::remove(path.c_str()) == 0 || errno == ENOENT)
        return syncFolderOf(path) ? Status{} : failed;
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    const bool emptied = fd >= 0 && syncFile(fd, false) == 0;
    if (fd >= 0)
        ::close(fd);
    return emptied ? Status{} : failed;
}

Status setJournalAside(const std::string& path, std::string& keptAs) {
    for (int number = 0; number < 1000; ++number) {
        keptAs = path + ".stale" + (number == 0 ? "" : "." + std::to_string(number));
        if (moveAside(path.c_str(), keptAs.c_str()))
            return syncFolderOf(path)
                       ? Status{}
                       : Status{ErrorCode::WriteFailed, "Unable to sync the folder of " + keptAs};
        if (errno != EEXIST)
            break;
    }
    return {ErrorCode::WriteFailed, "Unable to set aside the rollback journal " + path};
}

} // namespace dw
