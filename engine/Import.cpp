#include "engine/Import.h"

#include "engine/Chain.h"
#include "engine/Delete.h"
#include "engine/Directory.h"
#include "engine/HostDates.h"
#include "engine/SpaceCompression.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
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
constexpr std::size_t MaxSectors = 256 * 255;
// Text mode stores at least one byte for every two it reads, so this is more source than any
// file can take in; one byte beyond tells that more remains.
constexpr std::size_t MaxSourceBytes = 2 * SectorDataSize * MaxSectors + 2;

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
        return {ErrorCode::OpenFailed, "Unable to open " + path + "; it was not imported"};
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return {ErrorCode::ReadFailed,
                path + " is not a regular file (a folder, device or pipe); it was not imported"};
    }
    std::FILE* file = fdopen(fd, "rb");
    if (!file) {
        ::close(fd);
        return {ErrorCode::OpenFailed, "Unable to open " + path + "; it was not imported"};
    }
    // The bytes go straight into `source`: a stream buffer would only copy them once more.
    std::setvbuf(file, nullptr, _IONBF, 0);
    // Room for the whole file at once, so that the bytes are never copied while they grow.
    const auto expected = static_cast<std::uintmax_t>(info.st_size);
    source.bytes.reserve(
        static_cast<std::size_t>(std::min<std::uintmax_t>(expected + 1, MaxSourceBytes)));
    constexpr std::size_t Chunk = 1024 * 1024;
    bool failed = false;
    while (source.bytes.size() < MaxSourceBytes) {
        const std::size_t before = source.bytes.size();
        const std::size_t room = source.bytes.capacity() - before; // no copy while there is room
        const std::size_t wanted = std::min(room > 0 ? room : Chunk, MaxSourceBytes - before);
        source.bytes.resize(before + wanted);
        const std::size_t got = std::fread(source.bytes.data() + before, 1, wanted, file);
        source.bytes.resize(before + got);
        if (got < wanted) {
            failed = std::ferror(file) != 0;
            break;
        }
    }
    if (!failed && source.bytes.size() >= MaxSourceBytes) {
        source.bytes.resize(MaxSourceBytes);
        source.truncated = true;
    }
    std::fclose(file);
    if (failed)
        return {ErrorCode::ReadFailed, "Unable to read " + path + "; it was not imported"};
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

// The sectors the file will take from the head of the free chain, each with the link it holds.
struct Allocation {
    std::vector<SectorLink> sectors;
    std::vector<SectorLink> links;
    SectorLink nextFree;    // the link the last taken sector holds
    bool exhausted = false; // the free chain ends with the last taken sector
};

// Follows the free chain for at most `wanted` sectors; a link with a zero byte ends it. A
// loop, or a link outside the image, refuses the whole file: nothing may be written through it.
Status allocate(DiskImage& image, const SystemInformationRecord& sir, std::size_t wanted,
                Allocation& out) {
    std::vector<bool> taken(256 * 256, false);
    SectorLink current = sir.firstFree;
    auto damaged = [](const std::string& why) {
        return Status{ErrorCode::Damaged, "The free chain is damaged: " + why};
    };
    while (out.sectors.size() < wanted && !hasZeroByte(current)) {
        if (!image.contains(current))
            return damaged("link " + linkText(current) + " lies outside the disk image");
        if (taken[linkIndex(current)])
            return damaged("it returns to sector " + linkText(current));
        taken[linkIndex(current)] = true;
        SectorLink next;
        Status status = image.readLink(current, next);
        if (!status.ok())
            return status;
        out.sectors.push_back(current);
        out.links.push_back(next);
        current = next;
    }
    out.nextFree = current;
    out.exhausted = hasZeroByte(current);
    if (!out.exhausted && !image.contains(current))
        return damaged("link " + linkText(current) + " lies outside the disk image");
    if (!out.exhausted && taken[linkIndex(current)])
        return damaged("it returns to sector " + linkText(current));
    return {};
}

} // namespace

// What the session knows of the image between files: the directory up to its end, and which
// sector the directory or a live file owns (on a damaged image the free chain may run into
// them, and none of their sectors may ever be overwritten). It is read once, kept up to date
// with every file the session adds, and read again whenever anything else wrote through the
// image, the SIR or the file's length is not what the session last left (another program
// changed the image), or after a replacement.
class ImportSession::Impl {
public:
    Impl(DiskImage& image, const ImportOptions& options, ImportQuestions& questions)
        : image_(image), options_(options), questions_(questions) {}

    // `given`: the bytes to import instead of the host file's.
    ImportResult run(const std::string& hostPath, const std::string& flexNameOverride,
                     std::optional<std::vector<std::uint8_t>> given = std::nullopt,
                     std::optional<LocalDate> entryDate = std::nullopt);

private:
    static constexpr std::int32_t NoOwner = -1;
    static constexpr std::int32_t DirectoryOwner = -2;

    struct LiveFile {
        std::uint32_t offset = 0;
        DirectoryEntry entry;
    };

    ImportResult fail(const Status& status) {
        // What was done stays (a replacement already made), but is no longer what the session
        // knows.
        const Status committed = endChange();
        if (image_.writeCount() != writesAtStart_)
            known_ = false;
        if (status.code() != ErrorCode::Cancelled)
            questions_.tell(status.text());
        if (!committed.ok())
            questions_.tell(committed.text());
        result_.status = status;
        return result_;
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

    // Reads the directory and the owned sectors unless what the session holds is still current.
    Status know(const SystemInformationRecord& sir);
    // Walks on to the slot that ends the directory, taking in the live files on the way.
    void walkToEnd();
    void claim(SectorLink start, std::int32_t owner);
    Status checkUnowned(const std::vector<SectorLink>& sectors) const;
    Status commit(const SystemInformationRecord& sir, const Source& source,
                  const Allocation& allocation, std::uint32_t slotOffset);

    DiskImage& image_;
    const ImportOptions options_;
    ImportQuestions& questions_;
    std::string hostPath_;
    FlexName name_;
    ImportResult result_;
    std::uint64_t writesAtStart_ = 0;
    std::optional<ImageChange> change_;  // from the first read of the SIR to the commit
    std::optional<LocalDate> entryDate_; // else today's

    bool known_ = false;
    SystemInformationRecord knownSir_;
    std::uint64_t knownSize_ = 0;
    std::uint64_t knownWrites_ = 0;       // the image's writeCount when the session last knew it
    std::unique_ptr<DirectoryWalk> walk_; // stands at endSlot_ (or at the end of the chain)
    std::optional<std::uint32_t> endSlot_;
    std::vector<LiveFile> files_;               // live entries in directory order
    std::map<std::string, std::size_t> byName_; // "NAME.EXT" -> the first such entry in files_
    LinkTable<std::int32_t> owner_;             // DirectoryOwner, an index into files_, or NoOwner
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

void ImportSession::Impl::claim(SectorLink start, std::int32_t owner) {
    for (SectorLink link : walkChain(image_, start, image_.fileSize() / SectorSize + 1).sectors) {
        std::int32_t& slot = owner_.at(link);
        if (slot == NoOwner)
            slot = owner;
    }
}

void ImportSession::Impl::walkToEnd() {
    endSlot_.reset();
    DirectorySlot slot;
    while (walk_->next(slot)) {
        if (slot.entry.isEndOfDirectory()) {
            endSlot_ = slot.offset;
            return;
        }
        if (!slot.entry.isLive())
            continue;
        const std::size_t index = files_.size();
        files_.push_back({slot.offset, slot.entry});
        byName_.emplace(slot.entry.name() + "." + slot.entry.ext(), index);
        claim(slot.entry.startLink, static_cast<std::int32_t>(index));
    }
}

Status ImportSession::Impl::know(const SystemInformationRecord& sir) {
    if (known_ && image_.writeCount() == knownWrites_ && sir == knownSir_ &&
        image_.fileSize() == knownSize_)
        return walk_->status();
    known_ = true;
    knownWrites_ = image_.writeCount();
    knownSir_ = sir;
    knownSize_ = image_.fileSize();
    files_.clear();
    byName_.clear();
    owner_.reset(image_, NoOwner);
    claim(FirstDirectorySector, DirectoryOwner);
    walk_ = std::make_unique<DirectoryWalk>(image_);
    walkToEnd();
    return walk_->status();
}

Status ImportSession::Impl::checkUnowned(const std::vector<SectorLink>& sectors) const {
    for (SectorLink link : sectors) {
        const std::int32_t owner = owner_.get(link);
        if (owner == NoOwner)
            continue;
        const std::string who = owner == DirectoryOwner
                                    ? std::string("the directory")
                                    : files_[static_cast<std::size_t>(owner)].entry.name() + "." +
                                          files_[static_cast<std::size_t>(owner)].entry.ext();
        return {ErrorCode::Damaged, "The free chain is damaged: its sector " + linkText(link) +
                                        " also belongs to " + who};
    }
    return {};
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
    if (!settleName(flexNameOverride))
        return cancelled();

    // The whole source is read before anything is written, so a failed read changes nothing.
    Source source;
    Status status;
    if (given)
        source = sourceFrom(std::move(*given));
    else
        status = readSource(hostPath_, source);
    if (!status.ok())
        return fail(status);
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
    if (!change_->status().ok())
        return fail(change_->status());
    SystemInformationRecord sir;
    status = image_.readSirForChange(sir);
    if (!status.ok())
        return fail(status);

    status = know(sir);
    if (!status.ok())
        return fail({status.code(), status.text() + notImported()});
    const auto match = byName_.find(result_.flexName);
    const bool replacing = match != byName_.end();
    if (replacing) {
        if (!questions_.askReplace(ReplaceQuestion))
            return cancelled();
    } else if (!endSlot_) {
        return fail({ErrorCode::DirectoryFull, "The directory is full" + notImported()});
    }
    const LiveFile old = replacing ? files_[match->second] : LiveFile{};

    // Checked before a replacement too: one that frees no sector must not delete for nothing.
    const bool freesSectors = replacing && !old.entry.startLink.isNull();
    if (!freesSectors && hasZeroByte(sir.firstFree))
        return fail({ErrorCode::InvalidLink, firstFreeLinkMessage(sir.firstFree)});
    result_.text = textMode(source);
    const bool compress = result_.text && options_.applySpaceCompression;
    if (compress && source.truncated) // what was not read could fit once compressed
        return fail({ErrorCode::DiskFull, hostPath_ + " is too large" + notImported()});
    if (compress) // the line-feed rule goes first here, before counts of 10 or 13 exist
        source.bytes = compressedText(source.bytes, options_.stripLineFeeds);
    if (result_.text)
        textCopy(source, options_.stripLineFeeds && !compress);
    else
        binaryCopy(source);
    const std::size_t wanted = source.sectors + (source.truncated ? 1 : 0);

    std::uint32_t slotOffset = replacing ? old.offset : *endSlot_;
    if (replacing) {
        known_ = false; // the deletion changes the chains: read them again below
        status = deleteEntryAt(image_, old.offset, old.entry, sir);
        if (!status.ok())
            return fail({status.code(), status.text() + notImported()});
        if (hasZeroByte(sir.firstFree))
            return fail({ErrorCode::InvalidLink, firstFreeLinkMessage(sir.firstFree)});
        status = know(sir);
        if (!status.ok())
            return fail({status.code(), status.text() + notImported()});
    }

    Allocation allocation;
    status = allocate(image_, sir, wanted, allocation);
    if (status.ok())
        status = checkUnowned(allocation.sectors);
    if (!status.ok())
        return fail({status.code(), status.text() + notImported()});
    if (allocation.sectors.size() < wanted && !questions_.askPartial(DiskFullQuestion))
        return cancelled();

    // Never reached: the scan refuses a file without a slot before anything is written.
    if (slotOffset == 0)
        return fail({ErrorCode::DirectoryFull, "OOPS - We just screwed up"});

    status = commit(sir, source, allocation, slotOffset);
    if (status.ok())
        status = endChange();
    if (!status.ok()) {
        known_ = false;
        return fail(status);
    }
    result_.committed = true;
    result_.sectorsUsed = static_cast<std::uint16_t>(allocation.sectors.size());
    return result_;
}

// Data sectors in chain order, each keeping its free-chain link (runs that lie back to back
// go in one write); then the end link, the SIR, the entry and a flush. Until the SIR is written
// the free chain still runs through the new sectors, so a failure half-way loses no free sector.
Status ImportSession::Impl::commit(const SystemInformationRecord& sirBefore, const Source& source,
                                   const Allocation& allocation, std::uint32_t slotOffset) {
    const std::size_t used = allocation.sectors.size();
    const std::string stopped = "; the import of " + result_.flexName + " stopped";
    constexpr std::size_t RunSectors = 256;
    std::vector<std::uint8_t> run;
    run.reserve(std::min(used, RunSectors) * SectorSize);
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < used; ++i)
        image_.takingFreeSector(allocation.sectors[i], allocation.links[i]);
    for (std::size_t i = 0; i < used; ++i) {
        const std::size_t at = run.size();
        run.resize(at + SectorSize, 0);
        putLink(run.data() + at, allocation.links[i]);
        putBigEndian16(run.data() + at + 2, static_cast<std::uint16_t>(i + 1));
        const std::size_t from = i * SectorDataSize;
        if (from < source.bytes.size()) {
            const std::size_t n = std::min<std::size_t>(SectorDataSize, source.bytes.size() - from);
            std::copy_n(source.bytes.begin() + static_cast<std::ptrdiff_t>(from), n,
                        run.begin() + static_cast<std::ptrdiff_t>(at + SectorHeaderSize));
        }
        const bool runEnds = i + 1 == used || run.size() == RunSectors * SectorSize ||
                             image_.SectorOffset(allocation.sectors[i + 1]) !=
                                 image_.SectorOffset(allocation.sectors[i]) + SectorSize;
        if (!runEnds)
            continue;
        Status status = image_.writeSectors(
            std::span(allocation.sectors).subspan(runStart, i + 1 - runStart), run);
        if (!status.ok())
            return {status.code(), status.text() + stopped};
        run.clear();
        runStart = i + 1;
    }
    const SectorLink start = allocation.sectors.front();
    const SectorLink end = allocation.sectors.back();
    if (hasZeroByte(end))
        return {ErrorCode::InvalidLink, endLinkMessage(end)};
    Status status = image_.writeLink(end, SectorLink{});
    if (!status.ok())
        return {status.code(), status.text() + stopped};

    SystemInformationRecord sir = sirBefore;
    if (allocation.exhausted) {
        // An empty free chain is 0/0 at both ends, so no later deletion links behind a sector
        // that now belongs to this file.
        sir.firstFree = {};
        sir.lastFree = {};
        sir.freeSectorCount = 0;
    } else {
        sir.firstFree = allocation.nextFree;
        sir.freeSectorCount =
            static_cast<std::uint16_t>(sir.freeSectorCount > used ? sir.freeSectorCount - used : 0);
    }
    status = image_.writeSir(sir);
    if (!status.ok())
        return {status.code(), status.text() + stopped};

    DirectoryEntry entry;
    std::copy(name_.name.begin(), name_.name.end(), entry.fileName.begin());
    std::copy(name_.ext.begin(), name_.ext.end(), entry.extension.begin());
    entry.startLink = start;
    entry.endLink = end;
    entry.sectorCount = static_cast<std::uint16_t>(used);
    const LocalDate date = entryDate_.value_or(currentLocalDate());
    entry.month = static_cast<std::uint8_t>(date.month);
    entry.day = static_cast<std::uint8_t>(date.day);
    entry.year = yearByte(date.year);
    status = image_.writeEntry(slotOffset, entry);
    if (status.ok())
        status = image_.flush();
    if (!status.ok())
        return {status.code(), status.text() + stopped};

    // What the session knows follows the image: the new file owns its sectors, and a file
    // written into the directory's end slot lets the directory go on after it.
    knownWrites_ = image_.writeCount();
    knownSir_ = sir;
    const auto index = static_cast<std::int32_t>(files_.size());
    for (SectorLink link : allocation.sectors)
        if (owner_.get(link) == NoOwner)
            owner_.at(link) = index;
    files_.push_back({slotOffset, entry});
    byName_.emplace(result_.flexName, files_.size() - 1);
    if (endSlot_ && slotOffset == *endSlot_) {
        walk_->resume();
        walkToEnd();
    }
    return {};
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
