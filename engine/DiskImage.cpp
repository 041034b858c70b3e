#include "engine/DiskImage.h"

#include <array>

namespace dw {

namespace {
Status openWithMode(const std::string& path, const char* mode, std::FILE*& file) {
    file = std::fopen(path.c_str(), mode);
    if (!file)
        return {ErrorCode::OpenFailed, "Unable to open " + path};
    return {};
}

bool seekTo(std::FILE* file, std::uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}
} // namespace

DiskImage::DiskImage(std::FILE* file, std::string path, bool readOnly)
    : file_(file), path_(std::move(path)), readOnly_(readOnly) {
    std::setvbuf(file_, nullptr, _IOFBF, 64 * 1024);
    measure();
}

bool DiskImage::positionAt(std::uint64_t offset, LastTransfer direction) {
    if (last_ == direction && position_ == offset)
        return true;
    // A short hop forward while reading (the next link of a chain in address order) is read
    // through: the stream's buffer usually holds it already, and a seek would cost a system call.
    constexpr std::uint64_t ReadThrough = 16 * 1024;
    if (last_ == LastTransfer::Read && direction == LastTransfer::Read && offset > position_ &&
        offset - position_ <= ReadThrough) {
        std::array<std::uint8_t, ReadThrough> skipped;
        const std::size_t gap = static_cast<std::size_t>(offset - position_);
        if (std::fread(skipped.data(), 1, gap, file_) == gap) {
            position_ = offset;
            return true;
        }
    }
    last_ = LastTransfer::None;
    if (!seekTo(file_, offset))
        return false;
    last_ = direction;
    position_ = offset;
    return true;
}

DiskImage::~DiskImage() {
    if (file_)
        std::fclose(file_);
}

Status DiskImage::open(const std::string& path, std::unique_ptr<DiskImage>& out) {
    std::FILE* file = nullptr;
    if (openWithMode(path, "r+b", file).ok()) {
        out.reset(new DiskImage(file, path, false));
        return {};
    }
    return openReadOnly(path, out);
}

Status DiskImage::openReadOnly(const std::string& path, std::unique_ptr<DiskImage>& out) {
    std::FILE* file = nullptr;
    Status status = openWithMode(path, "rb", file);
    if (!status.ok())
        return status;
    out.reset(new DiskImage(file, path, true));
    return {};
}

void DiskImage::measure() {
    size_ = 0;
    last_ = LastTransfer::None;
#ifdef _WIN32
    if (_fseeki64(file_, 0, SEEK_END) == 0) {
        long long end = _ftelli64(file_);
#else
    if (fseeko(file_, 0, SEEK_END) == 0) {
        off_t end = ftello(file_);
#endif
        if (end > 0)
            size_ = static_cast<std::uint64_t>(end);
    }
}

Status DiskImage::readSir(SystemInformationRecord& sir) {
    measure();
    // The SIR and track 0 sector 5 must both be there: the SIR's sector count decides where
    // sector 5 lies, so check the SIR first.
    if (size_ < SirOffset + SirSize)
        return {ErrorCode::BadImage, "The file is too short to be a FLEX disk image (" +
                                         std::to_string(size_) + " bytes)"};
    std::array<std::uint8_t, SirSize> bytes{};
    Status status = readAt(SirOffset, bytes);
    if (!status.ok())
        return status;
    sir = SystemInformationRecord::parse(bytes.data());
    if (sir.maxSector == 0)
        return {ErrorCode::BadImage,
                "The System Information Record gives 0 sectors per track: not a FLEX disk image"};
    if (sir.maxSector < 5)
        return {ErrorCode::BadImage, "The System Information Record gives " +
                                         std::to_string(sir.maxSector) +
                                         " sectors per track: too few for a FLEX directory"};
    if (!contains({0, 5}, sir.maxSector))
        return {ErrorCode::BadImage, "The file is too short to hold its first directory sector"};
    return {};
}

Status DiskImage::requireWholeGeometry(const SystemInformationRecord& sir) const {
    const std::uint64_t needed = std::uint64_t{sir.maxTrack + 1u} * sir.maxSector * SectorSize;
    if (size_ >= needed)
        return {};
    return {ErrorCode::BadImage, "The disk image is " + std::to_string(size_) +
                                     " bytes long but its geometry needs " +
                                     std::to_string(needed) +
                                     "; it may be laid out differently, so nothing was changed"};
}

Status DiskImage::writeSir(const SystemInformationRecord& sir) {
    std::array<std::uint8_t, SirSize> bytes{};
    sir.serialize(bytes.data());
    return writeAt(SirOffset, bytes);
}

bool DiskImage::contains(SectorLink link, std::uint8_t maxSector) const {
    if (link.sector == 0 || link.sector > maxSector)
        return false;
    return std::uint64_t{SectorOffset(link, maxSector)} + SectorSize <= size_;
}

namespace {
Status badLink(SectorLink link) {
    return {ErrorCode::InvalidLink, "Link " + linkText(link) + " lies outside the disk image"};
}
} // namespace

Status DiskImage::readSector(SectorLink link, std::uint8_t maxSector, Sector& out) {
    if (!contains(link, maxSector))
        return badLink(link);
    return readAt(SectorOffset(link, maxSector), out);
}

Status DiskImage::writeSector(SectorLink link, std::uint8_t maxSector, const Sector& sector) {
    if (!contains(link, maxSector))
        return badLink(link);
    return writeAt(SectorOffset(link, maxSector), sector);
}

Status DiskImage::readLink(SectorLink at, std::uint8_t maxSector, SectorLink& out) {
    if (!contains(at, maxSector))
        return badLink(at);
    std::array<std::uint8_t, 2> bytes{};
    Status status = readAt(SectorOffset(at, maxSector), bytes);
    if (status.ok())
        out = getLink(bytes.data());
    return status;
}

Status DiskImage::writeLink(SectorLink at, std::uint8_t maxSector, SectorLink value) {
    if (!contains(at, maxSector))
        return badLink(at);
    std::array<std::uint8_t, 2> bytes{};
    putLink(bytes.data(), value);
    return writeAt(SectorOffset(at, maxSector), bytes);
}

Status DiskImage::readEntry(std::uint32_t offset, DirectoryEntry& out) {
    std::array<std::uint8_t, DirectoryEntrySize> bytes{};
    Status status = readAt(offset, bytes);
    if (status.ok())
        out = DirectoryEntry::parse(bytes.data());
    return status;
}

Status DiskImage::writeEntry(std::uint32_t offset, const DirectoryEntry& entry) {
    std::array<std::uint8_t, DirectoryEntrySize> bytes{};
    entry.serialize(bytes.data());
    return writeAt(offset, bytes);
}

Status DiskImage::readAt(std::uint64_t offset, std::span<std::uint8_t> bytes) {
    if (offset + bytes.size() > size_)
        return {ErrorCode::ReadFailed,
                "Read past the end of the disk image at offset " + std::to_string(offset)};
    if (!positionAt(offset, LastTransfer::Read) ||
        std::fread(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        last_ = LastTransfer::None;
        return {ErrorCode::ReadFailed,
                "Unable to read the disk image at offset " + std::to_string(offset)};
    }
    position_ += bytes.size();
    return {};
}

Status DiskImage::writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (readOnly_)
        return {ErrorCode::ReadOnly, "The disk image is open read-only; nothing was changed"};
    if (offset + bytes.size() > size_)
        return {ErrorCode::WriteFailed,
                "Write past the end of the disk image at offset " + std::to_string(offset)};
    if (!positionAt(offset, LastTransfer::Write) ||
        std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        last_ = LastTransfer::None;
        return {ErrorCode::WriteFailed,
                "Unable to write the disk image at offset " + std::to_string(offset)};
    }
    position_ += bytes.size();
    return {};
}

Status DiskImage::flush() {
    if (readOnly_)
        return {};
    last_ = LastTransfer::None;
    if (std::fflush(file_) != 0)
        return {ErrorCode::WriteFailed, "Unable to write the disk image " + path_};
    return {};
}

} // namespace dw
