#include "engine/DiskImage.h"

#include <array>

namespace dw {

ImageLayout layoutForLength(std::uint64_t length, std::uint32_t headerBytes, std::uint8_t maxTrack,
                            std::uint8_t maxSector) {
    ImageLayout layout{maxSector, maxSector, headerBytes, true};
    const std::uint64_t whole = std::uint64_t{maxTrack + 1u} * maxSector * SectorSize;
    if (length >= headerBytes && length - headerBytes >= whole)
        return layout;
    const std::uint64_t missing = length >= headerBytes ? whole - (length - headerBytes) : whole;
    // A shorter track 0 still holds the boot, system, SIR and reserved sectors and sector 5.
    constexpr std::uint64_t MinTrackZero = 5;
    if (length >= headerBytes && missing % SectorSize == 0 &&
        missing / SectorSize + MinTrackZero <= maxSector) {
        layout.trackZeroSectors = static_cast<std::uint8_t>(maxSector - missing / SectorSize);
        return layout;
    }
    layout.fitsLength = false;
    return layout;
}

namespace {
Status openWithMode(const std::string& path, const char* mode, std::FILE*& file) {
    file = std::fopen(path.c_str(), mode);
    if (!file)
        return {ErrorCode::OpenFailed, "Unable to open " + path};
    return {};
}

Status badLink(SectorLink link) {
    return {ErrorCode::InvalidLink, "Link " + linkText(link) + " lies outside the disk image"};
}
} // namespace

DiskImage::DiskImage(std::unique_ptr<SectorStore> store, std::string path, bool readOnly)
    : store_(std::move(store)), path_(std::move(path)), readOnly_(readOnly) {
    SystemInformationRecord sir;
    findLayout(sir);
}

Status DiskImage::open(const std::string& path, std::unique_ptr<DiskImage>& out) {
    std::FILE* file = nullptr;
    if (openWithMode(path, "r+b", file).ok()) {
        out.reset(new DiskImage(std::make_unique<FileStore>(file), path, false));
        return {};
    }
    return openReadOnly(path, out);
}

Status DiskImage::openReadOnly(const std::string& path, std::unique_ptr<DiskImage>& out) {
    std::FILE* file = nullptr;
    Status status = openWithMode(path, "rb", file);
    if (!status.ok())
        return status;
    out.reset(new DiskImage(std::make_unique<FileStore>(file), path, true));
    return {};
}

std::unique_ptr<DiskImage> DiskImage::inMemory(std::vector<std::uint8_t>& bytes, bool readOnly) {
    return std::unique_ptr<DiskImage>(
        new DiskImage(std::make_unique<MemoryStore>(bytes), "(memory)", readOnly));
}

bool DiskImage::findLayout(SystemInformationRecord& sir) {
    size_ = store_->size();
    layout_ = {};
    auto sirAt = [&](std::uint32_t headerBytes) {
        std::array<std::uint8_t, SirSize> bytes{};
        if (size_ < headerBytes + SirOffset + SirSize ||
            !store_->read(headerBytes + SirOffset, bytes))
            return false;
        sir = SystemInformationRecord::parse(bytes.data());
        return true;
    };
    // The sectors are whole, so a length that is no multiple of 256 tells a header's size.
    const auto headerBytes = static_cast<std::uint32_t>(size_ % SectorSize);
    if (headerBytes != 0 && sirAt(headerBytes)) {
        const ImageLayout found = layoutForLength(size_, headerBytes, sir.maxTrack, sir.maxSector);
        if (found.fitsLength && sir.maxSector >= 5) {
            layout_ = found;
            return true;
        }
    }
    if (!sirAt(0))
        return false;
    layout_ = layoutForLength(size_, 0, sir.maxTrack, sir.maxSector);
    if (!layout_.fitsLength) {
        // Read as the plain layout: the best guess for an image cut short.
        layout_.trackZeroSectors = layout_.maxSector;
        layout_.headerBytes = 0;
    }
    return true;
}

Status DiskImage::readSir(SystemInformationRecord& sir) {
    // Each operation starts from the file as it is now: another program may have changed it.
    if (!store_->forget())
        return {ErrorCode::WriteFailed, "Unable to write the disk image " + path_};
    if (!findLayout(sir))
        return {ErrorCode::BadImage, "The file is too short to be a FLEX disk image (" +
                                         std::to_string(size_) + " bytes)"};
    if (sir.maxSector == 0)
        return {ErrorCode::BadImage,
                "The System Information Record gives 0 sectors per track: not a FLEX disk image"};
    if (sir.maxSector < 5)
        return {ErrorCode::BadImage, "The System Information Record gives " +
                                         std::to_string(sir.maxSector) +
                                         " sectors per track: too few for a FLEX directory"};
    if (!contains({0, 5}))
        return {ErrorCode::BadImage, "The file is too short to hold its first directory sector"};
    return {};
}

Status DiskImage::requireKnownLayout() const {
    if (layout_.fitsLength)
        return {};
    return {ErrorCode::BadImage,
            "The disk image is " + std::to_string(size_) +
                " bytes long, which fits no layout of its geometry; nothing was changed"};
}

Status DiskImage::writeSir(const SystemInformationRecord& sir) {
    std::array<std::uint8_t, SirSize> bytes{};
    sir.serialize(bytes.data());
    return writeAt(layout_.sirOffset(), bytes);
}

bool DiskImage::contains(SectorLink link) const {
    return layout_.hasSector(link) &&
           std::uint64_t{layout_.SectorOffset(link)} + SectorSize <= size_;
}

Status DiskImage::readSector(SectorLink link, Sector& out) {
    if (!contains(link))
        return badLink(link);
    return readAt(SectorOffset(link), out);
}

Status DiskImage::writeSector(SectorLink link, const Sector& sector) {
    if (!contains(link))
        return badLink(link);
    return writeAt(SectorOffset(link), sector);
}

Status DiskImage::readLink(SectorLink at, SectorLink& out) {
    if (!contains(at))
        return badLink(at);
    std::array<std::uint8_t, 2> bytes{};
    Status status = readAt(SectorOffset(at), bytes);
    if (status.ok())
        out = getLink(bytes.data());
    return status;
}

Status DiskImage::writeLink(SectorLink at, SectorLink value) {
    if (!contains(at))
        return badLink(at);
    std::array<std::uint8_t, 2> bytes{};
    putLink(bytes.data(), value);
    return writeAt(SectorOffset(at), bytes);
}

Status DiskImage::writeSectors(std::span<const SectorLink> links,
                               std::span<const std::uint8_t> bytes) {
    if (bytes.size() != links.size() * SectorSize)
        return {ErrorCode::WriteFailed, "A run of sectors does not match its data"};
    for (std::size_t i = 0; i < links.size(); ++i) {
        if (!contains(links[i]))
            return badLink(links[i]);
        if (i > 0 && SectorOffset(links[i]) != SectorOffset(links[i - 1]) + SectorSize)
            return {ErrorCode::WriteFailed, "Sectors " + linkText(links[i - 1]) + " and " +
                                                linkText(links[i]) + " do not lie back to back"};
    }
    if (links.empty())
        return {};
    return writeAt(SectorOffset(links.front()), bytes);
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
    if (!store_->read(offset, bytes))
        return {ErrorCode::ReadFailed,
                "Unable to read the disk image at offset " + std::to_string(offset)};
    return {};
}

Status DiskImage::writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (readOnly_)
        return {ErrorCode::ReadOnly, "The disk image is open read-only; nothing was changed"};
    if (Status known = requireKnownLayout(); !known.ok())
        return known;
    if (offset + bytes.size() > size_)
        return {ErrorCode::WriteFailed,
                "Write past the end of the disk image at offset " + std::to_string(offset)};
    ++writes_;
    if (!store_->write(offset, bytes))
        return {ErrorCode::WriteFailed,
                "Unable to write the disk image at offset " + std::to_string(offset)};
    return {};
}

Status DiskImage::flush() {
    if (readOnly_)
        return {};
    if (!store_->flush())
        return {ErrorCode::WriteFailed, "Unable to write the disk image " + path_};
    return {};
}

} // namespace dw
