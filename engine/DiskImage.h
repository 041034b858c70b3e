#pragma once

// The open image file. Every access is a positioned read or write of a whole record; nothing
// of the image is cached between operations except its length, measured again with each
// fresh read of the SIR.

#include "engine/Format.h"
#include "engine/Status.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

namespace dw {

class DiskImage {
public:
    // Opens read-write ("r+b"), else read-only ("rb"). Fails with OpenFailed when neither works.
    static Status open(const std::string& path, std::unique_ptr<DiskImage>& out);
    static Status openReadOnly(const std::string& path, std::unique_ptr<DiskImage>& out);

    ~DiskImage();
    DiskImage(const DiskImage&) = delete;
    DiskImage& operator=(const DiskImage&) = delete;

    const std::string& path() const { return path_; }
    bool readOnly() const { return readOnly_; }
    std::uint64_t fileSize() const { return size_; }

    // Reads the 24 bytes at offset 528 and measures the file again. Refuses an image too short
    // for its SIR and first directory sector, or whose maxSector is 0 (BadImage).
    Status readSir(SystemInformationRecord& sir);
    Status writeSir(const SystemInformationRecord& sir);

    // Before a change: an image shorter than its SIR's geometry is laid out some other way
    // (often a track 0 of its own size), so sector addresses would name the wrong bytes and a
    // write could land inside another file. Such an image is only read.
    Status requireWholeGeometry(const SystemInformationRecord& sir) const;

    // True when the link names a sector of this geometry that lies wholly inside the file:
    // sector 1..maxSector and SectorOffset + 256 <= file length. Tracks above maxTrack are
    // addressable; the consistency check reports them.
    bool contains(SectorLink link, std::uint8_t maxSector) const;

    // Whole sectors and link fields; each refuses a link that `contains` rejects (InvalidLink).
    Status readSector(SectorLink link, std::uint8_t maxSector, Sector& out);
    Status writeSector(SectorLink link, std::uint8_t maxSector, const Sector& sector);
    Status readLink(SectorLink at, std::uint8_t maxSector, SectorLink& out);
    Status writeLink(SectorLink at, std::uint8_t maxSector, SectorLink value);

    // Directory slots by their byte offset in the file (offsets come from the directory walk).
    Status readEntry(std::uint32_t offset, DirectoryEntry& out);
    Status writeEntry(std::uint32_t offset, const DirectoryEntry& entry);

    // Raw positioned transfers, bounded by the file's length (writes never extend the file).
    Status readAt(std::uint64_t offset, std::span<std::uint8_t> bytes);
    Status writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    Status flush();

private:
    DiskImage(std::FILE* file, std::string path, bool readOnly);
    void measure();

    // Where the stream stands after the last transfer, so that sequential transfers in the same
    // direction skip the seek and keep the stream's buffer. A change of direction always seeks,
    // as the C library requires.
    enum class LastTransfer { None, Read, Write };
    bool positionAt(std::uint64_t offset, LastTransfer direction);

    std::FILE* file_ = nullptr;
    LastTransfer last_ = LastTransfer::None;
    std::uint64_t position_ = 0;
    std::string path_;
    bool readOnly_ = false;
    std::uint64_t size_ = 0;
};

} // namespace dw
