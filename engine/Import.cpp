#include "engine/Import.h"

#include "engine/Delete.h"
#include "engine/HostDates.h"
#include "engine/SpaceCompression.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dw {

const char* const CompactionWarning =
    "Binary Compaction, and Space Compression have not\r\nyet been implemented. If you proceed "
    "the file will\r\nbe copied from the PC to the virtual diskette in\r\n252 byte "
    "blocks.\r\n\r\n                   Do you wish to continue?";
const char* const ReplaceQuestion = "File Already Exists\r\nDo you wish to delete existing file?";
const char* const DiskFullQuestion = "Disk is FULL!\r\nDo you want to save partial file?";
const char* const FullDirectoryText =
    "The directory is full and the disk has no free sector to extend it and hold the file";

namespace {

std::string hex2(std::uint8_t value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

bool hasZeroByte(SectorLink link) {
    return link.track == 0 || link.sector == 0;
}

// No image addresses more sectors than this (256 tracks of 255), so no free chain without a
// loop is longer.
constexpr std::size_t MaxSectors = std::size_t{256} * 255;
// Text mode stores at least one byte for every two it reads, so this is more source than any
// file can take in; one byte beyond tells that more remains.
constexpr std::size_t MaxSourceBytes = 2 * std::size_t{SectorDataSize} * MaxSectors + 2;

std::size_t sectorsFor(std::size_t bytes) {
    return (bytes + SectorDataSize - 1) / SectorDataSize;
}

// The host file, held once: the text copy converts it in place.
struct Source {
    std::vector<std::uint8_t> bytes;
    bool truncated = false; // the file holds more than `bytes`
    // Sectors the file fills: 252 bytes of `bytes` each, the last padded with NULs, and in text
    // mode possibly one more, empty sector (see textCopy).
    std::size_t sectors = 0;
};

Status readSource(const std::string& path, Source& source) {
    // Opened without waiting (a pipe with no writer would block the open) and taken only when it
    // is a regular file: a pipe, device or folder could block or never end.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return {
            ErrorCode::OpenFailed, "Unable to open " + path + "; it was not imported", {}, errno};
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return {ErrorCode::ReadFailed,
                path + " is not a regular file (a folder, device or pipe); it was not imported"};
    }
    std::FILE* file = fdopen(fd, "rb");
    if (!file) {
        const int reason = errno;
        ::close(fd);
        return {
            ErrorCode::OpenFailed, "Unable to open " + path + "; it was not imported", {}, reason};
    }
    // The bytes go straight into `source`: a stream buffer would only copy them once more.
    std::setvbuf(file, nullptr, _IONBF, 0);
    // Room for the whole file at once, so that the bytes are never copied while they grow.
    const auto expected = static_cast<std::uintmax_t>(info.st_size);
    source.bytes.reserve(
        static_cast<std::size_t>(std::min<std::uintmax_t>(expected + 1, MaxSourceBytes)));
    constexpr std::size_t Chunk = std::size_t{1024} * 1024;
    int failed = 0;
    while (source.bytes.size() < MaxSourceBytes) {
        const std::size_t before = source.bytes.size();
        const std::size_t room = source.bytes.capacity() - before; // no copy while there is room
        const std::size_t wanted = std::min(room > 0 ? room : Chunk, MaxSourceBytes - before);
        source.bytes.resize(before + wanted);
        const std::size_t got = std::fread(source.bytes.data() + before, 1, wanted, file);
        source.bytes.resize(before + got);
        if (got < wanted) {
            failed = std::ferror(file) != 0 ? (errno != 0 ? errno : EIO) : 0;
            break;
        }
    }
    if (failed == 0 && source.bytes.size() >= MaxSourceBytes) {
        source.bytes.resize(MaxSourceBytes);
        source.truncated = true;
    }
    std::fclose(file);
    if (failed != 0)
        return {
            ErrorCode::ReadFailed, "Unable to read " + path + "; it was not imported", {}, failed};
    return {};
}

// Bytes given whole, held as a host file's would be.
Source sourceFrom(std::vector<std::uint8_t> bytes) {
    Source source;
    source.bytes = std::move(bytes);
    if (source.bytes.size() > MaxSourceBytes) {
        source.bytes.resize(MaxSourceBytes);
        source.truncated = true;
    }
    return source;
}

void binaryCopy(Source& source) {
    source.sectors = sectorsFor(source.bytes.size());
}

// The text copy. Line feeds: one after a carriage return is dropped, any other becomes a
// carriage return; the bytes are converted in place, as the result is never longer. A sector
// begins with every source byte read after a full one, so a dropped line feed that is the
// source's last byte, right behind a full sector, makes one more, empty sector.
void textCopy(Source& source, bool stripLineFeeds) {
    std::vector<std::uint8_t>& bytes = source.bytes;
    if (!stripLineFeeds) {
        binaryCopy(source);
        return;
    }
    std::size_t stored = 0;
    std::uint8_t previous = 0;
    bool droppedLast = false;
    for (std::size_t pos = 0; pos < bytes.size(); ++pos) {
        const std::uint8_t byte = bytes[pos];
        droppedLast = byte == 0x0A && previous == 0x0D;
        if (byte == 0x0A) {
            if (!droppedLast)
                bytes[stored++] = 0x0D;
        } else {
            bytes[stored++] = byte;
        }
        previous = byte;
    }
    bytes.resize(stored);
    source.sectors = sectorsFor(stored) + (droppedLast && stored % SectorDataSize == 0 ? 1 : 0);
}

std::string capitalized(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

// The entry's name, flag and date; its links and count are the caller's.
DirectoryEntry entryFor(const FlexFile& file) {
    DirectoryEntry entry;
    entry.setName(file.name.name, file.name.ext);
    entry.randomFlag = file.randomFlag;
    entry.month = static_cast<std::uint8_t>(file.date.month);
    entry.day = static_cast<std::uint8_t>(file.date.day);
    entry.year = yearByte(file.date.year);
    return entry;
}

// A file of no sectors: its entry alone, with 0/0 links.
Status writeEntryOnly(DiskImage& image, SectorMap& map, std::size_t slot, const FlexFile& file) {
    const DirectoryEntry entry = entryFor(file);
    Status status = image.writeEntry(map.entries()[slot].slot.offset, entry);
    if (status.ok())
        status = image.flush();
    if (status.ok())
        map.recordImport(slot, entry, 0, map.sir());
    return status;
}

} // namespace

ChainDamage storeDamage(const SectorMap& map, std::size_t slot) {
    if (!map.directoryStatus().ok())
        return {map.directoryStatus().fact()};
    if (const ChainDamage& free = map.freeChainDamage())
        return free;
    // A full directory grows: its last sector gets a new link.
    const std::vector<SectorLink>& directory = map.directoryChain().sectors;
    if (slot == SectorMap::NoEntry && !directory.empty())
        if (std::string other =
                map.otherOwner(directory.back(), {OwnerKind::Directory}, "the directory's");
            !other.empty())
            return {other};
    return map.recordsDamage(slot);
}

// The free chain's first sector becomes the directory's last, all zeros. The SIR goes first,
// then the sector, then the link to it: no step leaves a chain running into another.
Status growDirectory(DiskImage& image, SectorMap& map) {
    const std::span<const SectorLink> free = map.freeChain();
    if (free.empty())
        return {ErrorCode::DirectoryFull, FullDirectoryText};
    const SectorLink sector = free.front();
    SystemInformationRecord sir = map.sir();
    sir.firstFree = free.size() > 1 ? free[1] : SectorLink{};
    if (sir.firstFree.isNull())
        sir.lastFree = {};
    sir.freeSectorCount = static_cast<std::uint16_t>(free.size() - 1);
    image.takingFreeSector(sector, sir.firstFree);
    Status status = image.writeSir(sir);
    if (status.ok())
        status = image.writeSector(sector, Sector{});
    if (status.ok())
        status = image.writeLink(map.directoryChain().sectors.back(), sector);
    if (status.ok())
        map.recordGrowth(image.SectorOffset(sector), sir);
    return status;
}

// Data sectors in chain order, each keeping its free-chain link (runs that lie back to back go
// in one write); then the end link, the SIR, the entry and a flush. Until the SIR is written the
// free chain still runs through the new sectors, so a failure half-way loses no free sector.
Status writeFlexFile(DiskImage& image, SectorMap& map, std::size_t slot, const FlexFile& file,
                     std::size_t sectors) {
    if (const ChainDamage damage = storeDamage(map, slot))
        return {ErrorCode::Damaged, capitalized(damage.text)};
    if (slot == SectorMap::NoEntry) {
        if (Status status = growDirectory(image, map); !status.ok())
            return status;
        slot = map.endSlot();
    }
    if (sectors == 0)
        return writeEntryOnly(image, map, slot, file);
    const std::span<const SectorLink> free = map.freeChain();
    const std::span<const SectorLink> taken = free.first(std::min(sectors, free.size()));
    if (taken.empty())
        return {ErrorCode::InvalidLink, firstFreeLinkMessage(map.sir().firstFree)};
    // Each taken sector keeps the link the free chain gives it; the last one ends the file.
    const SectorLink nextFree = taken.size() < free.size() ? free[taken.size()] : SectorLink{};
    auto linkAfter = [&](std::size_t i) { return i + 1 < taken.size() ? taken[i + 1] : nextFree; };
    for (std::size_t i = 0; i < taken.size(); ++i)
        image.takingFreeSector(taken[i], linkAfter(i));

    constexpr std::size_t RunSectors = 256;
    std::vector<std::uint8_t> run;
    run.reserve(std::min(taken.size(), RunSectors) * SectorSize);
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < taken.size(); ++i) {
        const std::size_t at = run.size();
        run.resize(at + SectorSize, 0);
        putLink(run.data() + at, linkAfter(i));
        // FLEX numbers a random file's records from its first data sector; its map's are 0.
        const std::size_t record = file.randomFlag == 0 ? i + 1 : i < 2 ? 0 : i - 1;
        putBigEndian16(run.data() + at + 2, static_cast<std::uint16_t>(record));
        const std::size_t from = i * SectorDataSize;
        if (from < file.data.size()) {
            const std::size_t n = std::min<std::size_t>(SectorDataSize, file.data.size() - from);
            std::copy_n(file.data.begin() + static_cast<std::ptrdiff_t>(from), n,
                        run.begin() + static_cast<std::ptrdiff_t>(at + SectorHeaderSize));
        }
        const bool runEnds =
            i + 1 == taken.size() || run.size() == RunSectors * SectorSize ||
            image.SectorOffset(taken[i + 1]) != image.SectorOffset(taken[i]) + SectorSize;
        if (!runEnds)
            continue;
        Status status = image.writeSectors(taken.subspan(runStart, i + 1 - runStart), run);
        if (!status.ok())
            return status;
        run.clear();
        runStart = i + 1;
    }
    Status status = image.writeLink(taken.back(), SectorLink{});
    if (!status.ok())
        return status;

    SystemInformationRecord sir = map.sir();
    if (taken.size() == free.size()) {
        // An empty free chain is 0/0 at both ends, so no later deletion links behind a sector
        // that now belongs to this file.
        sir.firstFree = {};
        sir.lastFree = {};
        sir.freeSectorCount = 0;
    } else {
        sir.firstFree = nextFree;
        sir.freeSectorCount = static_cast<std::uint16_t>(sir.freeSectorCount - taken.size());
    }
    status = image.writeSir(sir);
    if (!status.ok())
        return status;

    DirectoryEntry entry = entryFor(file);
    entry.startLink = taken.front();
    entry.endLink = taken.back();
    entry.sectorCount = static_cast<std::uint16_t>(taken.size());
    status = image.writeEntry(map.entries()[slot].slot.offset, entry);
    if (status.ok())
        status = image.flush();
    if (status.ok())
        map.recordImport(slot, entry, taken.size(), sir);
    return status;
}

// One file at a time: the name and the host file's bytes, then, on the map of the image (made
// once and kept up to date while nothing else writes to the image), the slot, the replacement
// and the sectors; every chain the import touches is judged before anything is written.
class ImportSession::Impl {
public:
    Impl(DiskImage& image, const ImportOptions& options, ImportQuestions& questions)
        : image_(image), options_(options), questions_(questions) {}

    // `given`: the bytes to import instead of the host file's.
    ImportResult run(const std::string& hostPath, const std::string& flexNameOverride,
                     std::optional<std::vector<std::uint8_t>> given = std::nullopt,
                     std::optional<LocalDate> entryDate = std::nullopt);

private:
    ImportResult fail(const Status& status) {
        // What was done stays (a replacement already made), but the map may not know it.
        const Status committed = endChange();
        if (image_.writeCount() != writesAtStart_)
            kept_.forget();
        if (status.code() != ErrorCode::Cancelled)
            questions_.tellFailure(status);
        if (!committed.ok())
            questions_.tell(committed.text());
        result_.status = status;
        return result_;
    }
    ImportResult failNamed(const Status& status, const std::string& hint = {}) {
        return fail({status.code(), status.text() + notImported() + hint});
    }
    Status endChange() {
        Status status;
        if (change_ && change_->status().ok())
            status = change_->commit();
        change_.reset();
        return status;
    }
    ImportResult cancelled() {
        const std::string what = result_.flexName.empty() ? "the file" : result_.flexName;
        return fail({ErrorCode::Cancelled, what + " was not imported"});
    }
    std::string notImported() const { return "; " + result_.flexName + " was not imported"; }
    bool settleName(const std::string& flexNameOverride);
    bool textMode(const Source& source);
    // The sectors the file fills, once it is converted as its mode says.
    std::size_t convert(Source& source);
    ImportResult store(Source& source);

    DiskImage& image_;
    const ImportOptions options_;
    ImportQuestions& questions_;
    std::string hostPath_;
    FlexName name_;
    ImportResult result_;
    std::uint64_t writesAtStart_ = 0;
    std::optional<ImageChange> change_;  // from the first read of the SIR to the commit
    std::optional<LocalDate> entryDate_; // else today's

    SessionMap kept_;
    SectorMap& map_ = kept_.map();
};

bool ImportSession::Impl::settleName(const std::string& flexNameOverride) {
    FlexName pair =
        flexNameOverride.empty() ? splitHostName(hostPath_) : splitAnswer(flexNameOverride);
    while (!acceptable(pair)) {
        std::string text = namePreset(pair);
        if (!questions_.askName(text))
            return false;
        pair = splitAnswer(text);
    }
    name_ = {upperCased(pair.name), upperCased(pair.ext)};
    result_.flexName = name_.name + "." + name_.ext;
    return true;
}

bool ImportSession::Impl::textMode(const Source& source) {
    switch (options_.mode) {
    case ImportMode::Text:
        return true;
    case ImportMode::Binary:
        return false;
    case ImportMode::Auto:
        break;
    }
    if (!options_.stripLineFeeds && !options_.compressSpaces)
        return false;
    const std::uint8_t first = source.bytes.front();
    if (first >= 0x20 && first <= 0x7F)
        return true;
    const FlexName pc = splitHostName(hostPath_);
    return !questions_.askBinary(binaryQuestion(pc.name + "." + pc.ext));
}

std::size_t ImportSession::Impl::convert(Source& source) {
    result_.text = textMode(source);
    const bool compress = result_.text && options_.applySpaceCompression;
    if (compress) // the line-feed rule goes first here, before counts of 10 or 13 exist
        source.bytes = compressedText(source.bytes, options_.stripLineFeeds);
    if (result_.text)
        textCopy(source, options_.stripLineFeeds && !compress);
    else
        binaryCopy(source);
    return source.sectors + (source.truncated ? 1 : 0);
}

ImportResult ImportSession::Impl::run(const std::string& hostPath,
                                      const std::string& flexNameOverride,
                                      std::optional<std::vector<std::uint8_t>> given,
                                      std::optional<LocalDate> entryDate) {
    hostPath_ = hostPath;
    name_ = {};
    result_ = {};
    entryDate_ = entryDate;
    writesAtStart_ = image_.writeCount();
    if (image_.readOnly())
        return fail(
            {ErrorCode::ReadOnly, "The disk image is open read-only; nothing was imported"});
    // The whole source is read before anything is written, so a failed read changes nothing;
    // and before the name is asked, so that no name is asked for a file that cannot be read.
    Source source;
    Status status;
    if (given)
        source = sourceFrom(std::move(*given));
    else
        status = readSource(hostPath_, source);
    if (!status.ok())
        return fail(status);
    if (!settleName(flexNameOverride))
        return cancelled();
    if (!given && options_.keepHostDates) {
        LocalDate date;
        status = hostFileDate(hostPath_, date);
        if (!status.ok())
            return fail({status.code(), status.text() + notImported()});
        entryDate_ = date;
    }
    if (source.bytes.empty())
        return fail({ErrorCode::ReadFailed, hostPath_ +
                                                " is empty and a FLEX file needs at least one "
                                                "sector; it was not imported"});
    // From the first read of the SIR to the commit the image is this command's alone.
    change_.emplace(image_);
    status = change_->status();
    if (status.ok())
        status = kept_.know(image_);
    if (!status.ok())
        return fail(status);
    return store(source);
}

ImportResult ImportSession::Impl::store(Source& source) {
    if (!map_.directoryStatus().ok())
        return failNamed(map_.directoryStatus());
    const std::size_t old = map_.findLive(name_.name, name_.ext);
    const bool replacing = old != SectorMap::NoEntry;
    if (replacing && !questions_.askReplace(ReplaceQuestion))
        return cancelled();
    // NoEntry: every slot is in use, and the directory grows by a sector of the free chain.
    const std::size_t slot = replacing ? old : map_.endSlot();
    const std::size_t forDirectory = slot == SectorMap::NoEntry ? 1 : 0;
    if (forDirectory != 0 && map_.freeChain().size() < 2)
        return failNamed({ErrorCode::DirectoryFull, FullDirectoryText});

    // Checked before a replacement too: one that frees no sector must not delete for nothing.
    const bool freesSectors = replacing && !map_.entries()[old].chain.sectors.empty();
    if (!freesSectors && hasZeroByte(map_.sir().firstFree))
        return fail({ErrorCode::InvalidLink, firstFreeLinkMessage(map_.sir().firstFree)});
    if (const ChainDamage damage = storeDamage(map_, slot))
        return failNamed({ErrorCode::Damaged, capitalized(damage.text)},
                         damage.freeChain ? RepairHint : "");
    const std::size_t wanted = convert(source);
    if (result_.text && options_.applySpaceCompression && source.truncated)
        return failNamed({ErrorCode::DiskFull, hostPath_ + " is too large"});

    if (replacing) {
        const Status deleted = deleteEntry(image_, map_, old);
        if (!deleted.ok())
            return failNamed(deleted);
        if (map_.freeChain().empty())
            return fail({ErrorCode::InvalidLink, firstFreeLinkMessage(map_.sir().firstFree)});
    }
    const std::size_t sectors = std::min(wanted, map_.freeChain().size() - forDirectory);
    if (sectors < wanted && !questions_.askPartial(DiskFullQuestion))
        return cancelled();

    FlexFile file{name_, entryDate_.value_or(currentLocalDate()), 0, std::move(source.bytes),
                  source.sectors};
    Status status = writeFlexFile(image_, map_, slot, file, sectors);
    if (!status.ok())
        status = {status.code(),
                  status.text() + "; the import of " + result_.flexName + " stopped"};
    if (status.ok())
        status = endChange();
    if (!status.ok()) {
        kept_.forget();
        return fail(status);
    }
    kept_.caughtUp(image_);
    result_.committed = true;
    result_.sectorsUsed = static_cast<std::uint16_t>(sectors);
    return result_;
}

std::string binaryQuestion(const std::string& pcName) {
    return pcName + " may be a binary file. Do\r\nyou wish to treat it as such?";
}

std::string firstFreeLinkMessage(SectorLink link) {
    if (link.track == 0 && link.sector == 0)
        return "Both the next user track and the next user sector in the SIR contain invlaid "
               "links [T=0x" +
               hex2(link.track) + "] [S=0x" + hex2(link.sector) + "]";
    if (link.track == 0)
        return "The next user track in the SIR contains an invlaid link [0x" + hex2(link.track) +
               "]";
    return "The next user sector in the SIR contains an invlaid link [0x" + hex2(link.sector) + "]";
}

std::string endLinkMessage(SectorLink link) {
    if (link.track == 0 && link.sector == 0)
        return "Both the File End Track and the File End sector contain invlaid links [T=0x" +
               hex2(link.track) + "] [S=0x" + hex2(link.sector) + "]";
    if (link.track == 0)
        return "The File End Track contains an invlaid link [0x" + hex2(link.track) + "]";
    return "The File End Sector contains an invlaid link [0x" + hex2(link.sector) + "]";
}

ImportSession::ImportSession(DiskImage& image, const ImportOptions& options,
                             ImportQuestions& questions)
    : impl_(std::make_unique<Impl>(image, options, questions)) {}

ImportSession::~ImportSession() = default;

ImportResult ImportSession::importFile(const std::string& hostPath,
                                       const std::string& flexNameOverride) {
    return impl_->run(hostPath, flexNameOverride);
}

ImportResult ImportSession::importBytes(std::vector<std::uint8_t> bytes,
                                        const std::string& flexName, const std::string& shownSource,
                                        std::optional<LocalDate> entryDate) {
    return impl_->run(shownSource, flexName, std::move(bytes), entryDate);
}

ImportResult importFile(DiskImage& image, const std::string& hostPath, const ImportOptions& options,
                        ImportQuestions& questions, const std::string& flexNameOverride) {
    return ImportSession(image, options, questions).importFile(hostPath, flexNameOverride);
}

bool confirmCompactionWarning(const ImportOptions& options, bool& warned,
                              ImportQuestions& questions) {
    if (!(options.compactBinary || options.compressSpaces) || warned)
        return true;
    warned = true;
    return questions.askYesNo(CompactionWarning);
}

} // namespace dw
