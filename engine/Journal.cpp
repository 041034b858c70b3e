#include "engine/Journal.h"

#include "engine/KillPoint.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif
#else
#include <io.h>
#endif

namespace dw {

namespace {

constexpr std::array<std::uint8_t, 8> Magic{'D', 'W', 'J', 'R', 'N', 'L', '0', '1'};
constexpr std::array<std::uint8_t, 8> EndMagic{'D', 'W', 'J', 'R', 'N', 'L', 'O', 'K'};
constexpr std::size_t HeaderSize = 8 + 8 + 4;
constexpr std::size_t RecordHeaderSize = 8 + 4;
constexpr std::size_t TrailerSize = 8 + 8;

void put(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t get(const std::uint8_t* at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | at[i];
    return value;
}

std::uint64_t checksum(const std::uint8_t* bytes, std::size_t size) {
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

Status journalFailed(const std::string& path) {
    return {ErrorCode::WriteFailed,
            "Unable to write the rollback journal " + path + "; nothing was changed"};
}

#ifndef _WIN32
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

// The folder's entry for a new file is durable only once the folder itself is synced.
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
#endif

} // namespace

std::string journalPathFor(const std::string& imagePath) {
    return imagePath + "-journal";
}

Status writeJournal(const std::string& path, const std::string& imagePath, std::uint64_t imageSize,
                    const std::vector<JournalRecord>& records) {
    std::vector<std::uint8_t> bytes(Magic.begin(), Magic.end());
    put(bytes, imageSize, 8);
    put(bytes, records.size(), 4);
    for (const JournalRecord& record : records) {
        put(bytes, record.offset, 8);
        put(bytes, record.bytes.size(), 4);
        bytes.insert(bytes.end(), record.bytes.begin(), record.bytes.end());
    }
    put(bytes, checksum(bytes.data(), bytes.size()), 8);
    bytes.insert(bytes.end(), EndMagic.begin(), EndMagic.end());
#ifndef _WIN32
    // It holds the image's bytes: as readable as the image, no more.
    struct stat image {};
    const mode_t mode = ::stat(imagePath.c_str(), &image) == 0 ? (image.st_mode & 0666) : 0600;
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0)
        return journalFailed(path);
    const bool written = writeCounted(fd, bytes.data(), bytes.size(), 0) && syncFile(fd, true) == 0;
    const bool named = written && (nameSyncsWithFile(fd) || syncFolderOf(path));
    const bool closed = ::close(fd) == 0;
    if (!written || !named || !closed) {
        ::unlink(path.c_str());
        return journalFailed(path);
    }
    return {};
#else
    (void)imagePath;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return journalFailed(path);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
                         std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
    if (std::fclose(file) != 0 || !written) {
        std::remove(path.c_str());
        return journalFailed(path);
    }
    return {};
#endif
}

Status readJournal(const std::string& path, std::uint64_t imageSize, JournalState& state,
                   std::vector<JournalRecord>& records) {
    state = JournalState::None;
    records.clear();
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, error)))
        return {};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return {ErrorCode::ReadFailed, "Unable to read the rollback journal " + path +
                                           " of an interrupted change; nothing was changed"};
    std::vector<std::uint8_t> bytes;
    std::array<std::uint8_t, 64 * 1024> chunk{};
    std::size_t got;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0)
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return {ErrorCode::ReadFailed, "Unable to read the rollback journal " + path +
                                           " of an interrupted change; nothing was changed"};

    state = JournalState::Incomplete;
    if (bytes.size() < HeaderSize + TrailerSize ||
        !std::equal(Magic.begin(), Magic.end(), bytes.begin()) ||
        !std::equal(EndMagic.begin(), EndMagic.end(), bytes.end() - 8))
        return {};
    const std::size_t body = bytes.size() - TrailerSize;
    if (get(bytes.data() + body, 8) != checksum(bytes.data(), body) ||
        get(bytes.data() + 8, 8) != imageSize)
        return {};
    const std::uint64_t count = get(bytes.data() + 16, 4);
    std::size_t at = HeaderSize;
    std::vector<JournalRecord> found;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (body - at < RecordHeaderSize)
            return {};
        JournalRecord record;
        record.offset = get(bytes.data() + at, 8);
        const std::uint64_t size = get(bytes.data() + at + 8, 4);
        at += RecordHeaderSize;
        if (size > body - at || record.offset > imageSize || size > imageSize - record.offset)
            return {};
        record.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                            bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
        found.push_back(std::move(record));
    }
    if (at != body)
        return {};
    state = JournalState::Complete;
    records = std::move(found);
    return {};
}

Status removeJournal(const std::string& path) {
    countStep();
    if (std::remove(path.c_str()) == 0)
        return {};
    if (std::FILE* file = std::fopen(path.c_str(), "wb"); file && std::fclose(file) == 0)
        return {};
    return {ErrorCode::WriteFailed, "Unable to remove the rollback journal " + path};
}

} // namespace dw
