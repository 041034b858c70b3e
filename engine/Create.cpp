#include "engine/Create.h"
#include "engine/BootSectors.h"
#include "engine/HostFile.h"
#include "engine/Journal.h"

#include <bit>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <system_error>
#include <vector>

namespace dw {

namespace {

constexpr std::int32_t FlexMaxSectorsPerTrack = 255;
constexpr std::int32_t Os9MaxSectorsPerTrack = 256;
// Smallest geometry whose layout names only sectors it has: track 0 holds the boot, system,
// SIR and reserved sectors and at least one directory sector; track 1 starts the free chain.
constexpr std::int32_t MinTracks = 2;
constexpr std::int32_t MinSectorsPerTrack = 5;

std::uint8_t low8(std::int64_t value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}

void put24(std::uint8_t* p, std::int64_t value) {
    p[0] = low8(value >> 16);
    p[1] = low8(value >> 8);
    p[2] = low8(value);
}

// OS9 counts its years from 1900, whatever FLEX does.
void putDate(std::uint8_t* p, const LocalDate& when, bool withTime) {
    p[0] = low8(when.year - 1900);
    p[1] = low8(when.month);
    p[2] = low8(when.day);
    if (withTime) {
        p[3] = low8(when.hour);
        p[4] = low8(when.minute);
    }
}

// Writes sectors one at a time and reports each to the progress sink.
class SectorWriter {
public:
    SectorWriter(std::ostream& out, ProgressSink& progress) : out_(out), progress_(progress) {}

    bool write(const Sector& sector) {
        out_.write(reinterpret_cast<const char*>(sector.data()), SectorSize);
        if (!out_)
            return false;
        progress_.StepIt();
        return true;
    }

private:
    std::ostream& out_;
    ProgressSink& progress_;
};

CreateResult writeFailed() {
    return {CreateOutcome::Failed,
            Status(ErrorCode::WriteFailed, "Writing the new image failed; it is not complete.")};
}

CreateResult cancelled() {
    return {CreateOutcome::Cancelled,
            Status(ErrorCode::Cancelled, "The image was not made: creation was cancelled.")};
}

CreateResult writeFlex(const FormatParameters& p, SectorWriter& writer, const LocalDate& when,
                       ProgressSink& progress) {
    const int tracks = p.tracks;
    const int spt = static_cast<int>(sectorsPerTrack(p));
    const int trackZero = static_cast<int>(trackZeroSectors(p));
    Sector buffer{};

    // Track 0: boot, system sector, SIR, reserved sector, then the directory chain.
    if (p.includeBootSector)
        buffer = bootSector(p.processor);
    if (!writer.write(buffer))
        return writeFailed();

    buffer.fill(0);
    buffer[1] = 3;
    if (!writer.write(buffer))
        return writeFailed();

    buffer.fill(0);
    SystemInformationRecord sir;
    const std::string label = effectiveVolumeName(p);
    for (std::size_t i = 0; i < sir.volumeLabel.size() && i < label.size(); ++i)
        sir.volumeLabel[i] = static_cast<std::uint8_t>(label[i]);
    sir.firstFree = {1, 1};
    sir.lastFree = {low8(tracks - 1), low8(spt)};
    sir.freeSectorCount = static_cast<std::uint16_t>(spt * (tracks - 1));
    sir.creationMonth = low8(when.month);
    sir.creationDay = low8(when.day);
    sir.creationYear = yearByte(when.year);
    sir.maxTrack = low8(tracks - 1);
    sir.maxSector = low8(spt);
    sir.serialize(buffer.data() + 16);
    if (!writer.write(buffer))
        return writeFailed();

    buffer.fill(0);
    for (int n = 4; n < trackZero; ++n) {
        buffer[1] = low8(n + 1);
        if (!writer.write(buffer))
            return writeFailed();
    }
    buffer.fill(0);
    if (!writer.write(buffer))
        return writeFailed();

    // Tracks 1 and up: one free chain in file order, ending 0/0 in the very last sector.
    for (int t = 1; t < tracks; ++t) {
        if (progress.PollCancel())
            return cancelled();
        for (int n = 1; n < spt; ++n) {
            buffer[0] = low8(t);
            buffer[1] = low8(n + 1);
            if (!writer.write(buffer))
                return writeFailed();
        }
        if (t == tracks - 1) {
            buffer.fill(0);
        } else {
            buffer[0] = low8(t + 1);
            buffer[1] = 1;
        }
        if (!writer.write(buffer))
            return writeFailed();
    }
    return {};
}

CreateResult writeOs9(const FormatParameters& p, SectorWriter& writer, const LocalDate& when,
                      ProgressSink& progress) {
    const std::int64_t total = os9TotalSectors(p);
    const int cluster = os9ClusterSize(total);
    if (cluster == 0)
        return {CreateOutcome::Failed,
                Status(ErrorCode::BadGeometry, "Too many sectors in this format")};
    const int rootSectors = cluster == 1 ? 7 : 12;
    const std::int64_t mapBytes = cluster == 1 ? (total + 8) / 8 : (total / cluster + 8) / 8;

    // LSN 0: identification sector.
    Sector buffer{};
    put24(buffer.data(), total);
    buffer[3] = low8(p.sectorsPerSide);
    buffer[4] = low8(mapBytes >> 8);
    buffer[5] = low8(mapBytes);
    buffer[6] = low8(cluster >> 8);
    buffer[7] = low8(cluster);
    put24(&buffer[8], 3);
    buffer[13] = 0xFF;
    buffer[16] = static_cast<std::uint8_t>((p.singleDensity ? 0 : 1) | (p.doubleSided ? 2 : 0));
    buffer[18] = low8(p.sectorsPerSide);
    putDate(&buffer[26], when, true);
    const std::string name = effectiveVolumeName(p);
    for (std::size_t i = 0; i < name.size(); ++i)
        buffer[31 + i] = static_cast<std::uint8_t>(name[i]);
    for (std::size_t i = name.size(); i-- > 0;) {
        if (buffer[31 + i] != 0) {
            buffer[31 + i] |= 0x80;
            break;
        }
    }
    if (!writer.write(buffer))
        return writeFailed();

    // LSN 1 and 2: the allocation bitmap; the layout's own sectors are in use.
    static constexpr std::uint8_t usedBits[5][2] = {
        {0xFF, 0xE0}, {0xFF, 0x00}, {0xF0, 0x00}, {0xC0, 0x00}, {0x80, 0x00}};
    const int clusterIndex = std::countr_zero(static_cast<unsigned>(cluster));
    buffer.fill(0);
    buffer[0] = usedBits[clusterIndex][0];
    buffer[1] = usedBits[clusterIndex][1];
    if (!writer.write(buffer))
        return writeFailed();
    buffer.fill(0);
    if (!writer.write(buffer))
        return writeFailed();

    // LSN 3: the root directory's file descriptor.
    buffer[0] = 0xBF;
    putDate(&buffer[3], when, true);
    buffer[8] = 2;
    buffer[12] = 64;
    putDate(&buffer[13], when, false);
    put24(&buffer[16], 4);
    buffer[20] = low8(rootSectors);
    if (!writer.write(buffer))
        return writeFailed();

    // LSN 4: the root directory with its ".." and "." entries.
    buffer.fill(0);
    buffer[0] = 0x2E;
    buffer[1] = 0xAE;
    put24(&buffer[29], 3);
    buffer[32] = 0xAE;
    put24(&buffer[61], 3);
    if (!writer.write(buffer))
        return writeFailed();

    // The rest of track 0, then every further track, all zero; exactly `total` sectors.
    buffer.fill(0);
    const std::int64_t spt = sectorsPerTrack(p);
    const std::int64_t trackZero = total - (p.tracks - 1) * spt;
    for (std::int64_t lsn = 5; lsn < trackZero; ++lsn) {
        if (!writer.write(buffer))
            return writeFailed();
    }
    for (int t = 1; t < p.tracks; ++t) {
        if (progress.PollCancel())
            return cancelled();
        for (std::int64_t n = 0; n < spt; ++n) {
            if (!writer.write(buffer))
                return writeFailed();
        }
    }
    return {};
}

} // namespace

std::int64_t sectorsPerTrack(const FormatParameters& p) {
    return p.doubleSided ? std::int64_t{p.sectorsPerSide} * 2 : p.sectorsPerSide;
}

std::string effectiveVolumeName(const FormatParameters& p) {
    std::string name = p.volumeName.substr(0, MaxVolumeNameLength);
    if (p.format == DiskFormat::Flex) {
        for (char& c : name) {
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return name;
}

std::int64_t os9TotalSectors(const FormatParameters& p) {
    return std::int64_t{p.tracks} * sectorsPerTrack(p) + 10 - p.sectorsPerSide;
}

int os9ClusterSize(std::int64_t totalSectors) {
    for (int cluster = 1; cluster <= 16; cluster *= 2) {
        if ((totalSectors + 8) / (std::int64_t{8} * cluster) <= 512)
            return cluster;
    }
    return 0;
}

std::int64_t trackZeroSectors(const FormatParameters& p) {
    if (p.format == DiskFormat::Os9 || p.trackZeroSectors == 0)
        return sectorsPerTrack(p);
    return p.trackZeroSectors;
}

std::int64_t imageSectorCount(const FormatParameters& p) {
    if (p.format == DiskFormat::Os9)
        return os9TotalSectors(p);
    return trackZeroSectors(p) + std::int64_t{p.tracks - 1} * sectorsPerTrack(p);
}

Status checkFormatLimits(const FormatParameters& p) {
    if (p.tracks > MaxTracks || p.tracks < 0)
        return {ErrorCode::BadGeometry, "Maximum Tracks Per Diskette is 256"};
    const bool flex = p.format == DiskFormat::Flex;
    const std::int32_t limit = flex ? FlexMaxSectorsPerTrack : Os9MaxSectorsPerTrack;
    const std::int64_t spt = sectorsPerTrack(p);
    if (spt > limit || spt < 0) {
        const std::int32_t perSide = p.doubleSided ? limit / 2 : limit;
        char text[64];
        std::snprintf(text, sizeof text, "Maximum Sectors for %s Sided Diskette is %d",
                      p.doubleSided ? "Double" : "Single", perSide);
        return {ErrorCode::BadGeometry, text};
    }
    if (p.tracks < MinTracks || spt < MinSectorsPerTrack)
        return {ErrorCode::BadGeometry,
                "A diskette needs at least 2 tracks of 5 sectors; no image was made."};
    if (p.trackZeroSectors != 0 && !flex)
        return {ErrorCode::BadGeometry,
                "Only a FLEX diskette can have a track 0 of its own size; no image was made."};
    if (p.trackZeroSectors != 0 &&
        (p.trackZeroSectors < MinSectorsPerTrack || p.trackZeroSectors > spt))
        return {ErrorCode::BadGeometry, "Track 0 needs 5 to " + std::to_string(spt) +
                                            " sectors (the sectors per track); no image was made."};
    return {};
}

CreateResult CreateBlankImage(const FormatParameters& p, std::ostream& out, const LocalDate& when,
                              ProgressSink& progress) {
    // Unchecked parameters would name sectors the image does not have.
    if (Status limits = checkFormatLimits(p); !limits.ok())
        return {CreateOutcome::Failed, limits};
    progress.SetStep(1);
    progress.SetRange(0, static_cast<int>(imageSectorCount(p)));
    SectorWriter writer(out, progress);
    CreateResult result = p.format == DiskFormat::Os9 ? writeOs9(p, writer, when, progress)
                                                      : writeFlex(p, writer, when, progress);
    if (result.outcome == CreateOutcome::Completed && !out.flush())
        return writeFailed();
    return result;
}

namespace {
// A journal beside a new image was left by a change to the file it replaced.
Status setOldJournalAside(const std::string& path, std::string* notice) {
    const std::string journal = journalPathFor(path);
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(journal, error)))
        return {};
    std::string keptAs;
    if (!setJournalAside(journal, keptAs).ok())
        return {ErrorCode::WriteFailed, "Created " + path + ", but the rollback journal " +
                                            journal +
                                            " of the file it replaced could not be "
                                            "set aside; remove it before the image "
                                            "is opened"};
    if (notice)
        *notice =
            path + ": " + journal + " belongs to the file it replaced; it is kept as " + keptAs;
    return {};
}
} // namespace

Status createImageFile(const std::string& path, const FormatParameters& p, const LocalDate& when,
                       ProgressSink& progress, bool overwrite, std::string* notice) {
    namespace fs = std::filesystem;
    std::error_code error;
    // A link itself is replaced with `overwrite`; a device or folder it names never is.
    const fs::file_status link = fs::symlink_status(path, error);
    const fs::file_status target = fs::status(path, error);
    if (fs::exists(link)) {
        if (!overwrite)
            return {ErrorCode::Exists, path + " already exists; it was left unchanged."};
        if (fs::exists(target) && !fs::is_regular_file(target))
            return {ErrorCode::Exists, path + " is not a regular file; it was left unchanged."};
    }

    CreateResult result;
    const Status written = writeHostFile(path, overwrite, [&](std::ostream& out) {
        result = CreateBlankImage(p, out, when, progress);
        return result.status;
    });
    if (written.ok())
        return setOldJournalAside(path, notice);
    const int reason = errno;
    Status status;
    if (written.code() == ErrorCode::Cancelled)
        status = written;
    else if (written.code() == ErrorCode::Exists)
        status = {ErrorCode::Exists, path + " already exists; it was left unchanged."};
    else if (written.code() == ErrorCode::OpenFailed)
        status = {ErrorCode::OpenFailed, "Unable to create " + path + "; nothing was changed."};
    else
        status = {written.code(), "Unable to write " + path + "; nothing was changed."};
    errno = reason;
    return status;
}

} // namespace dw
