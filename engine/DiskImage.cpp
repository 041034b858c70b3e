#include "engine/DiskImage.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <thread>

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
std::atomic<long long> lockWaitMs{3000};

// A change's journal is made from the file a slice at a time.
constexpr std::uint64_t JournalSlice = std::uint64_t{1024} * 1024;

bool isRealDate(const SystemInformationRecord& sir) {
    return sir.creationMonth >= 1 && sir.creationMonth <= 12 && sir.creationDay >= 1 &&
           sir.creationDay <= 31;
}

Status notFlex(const std::string& fact) {
    return {ErrorCode::BadImage, "Not a FLEX disk image: " + fact, fact};
}

Status badLink(SectorLink link) {
    return {ErrorCode::InvalidLink, "Link " + linkText(link) + " lies outside the disk image"};
}
} // namespace

DiskImage::DiskImage(std::unique_ptr<SectorStore> store, std::string path, bool readOnly,
                     std::string journalPath)
    : store_(std::move(store)), path_(std::move(path)), readOnly_(readOnly),
      journalPath_(std::move(journalPath)) {
    SystemInformationRecord sir;
    findLayout(sir);
    // An interrupted change is dealt with at once, when no other program holds the image.
    std::error_code error;
    if (!journalPath_.empty() &&
        std::filesystem::exists(std::filesystem::symlink_status(journalPath_, error)) &&
        beginRead().ok())
        endRead();
}

DiskImage::~DiskImage() {
    if (changeHolds_ > 0) {
        changeHolds_ = 0;
        commitPending();
    }
    if (lock_ != LockKind::None)
        store_->lock(LockKind::None);
}

void DiskImage::setLockWait(std::chrono::milliseconds wait) {
    lockWaitMs.store(wait.count());
}

Status DiskImage::open(const std::string& path, std::unique_ptr<DiskImage>& out) {
    std::unique_ptr<FileStore> store;
    Status writable = FileStore::open(path, true, store);
    if (writable.ok()) {
        out.reset(new DiskImage(std::move(store), path, false, journalPathFor(path)));
        return {};
    }
    if (writable.code() != ErrorCode::OpenFailed)
        return writable;
    Status status = openReadOnly(path, out);
    if (status.ok())
        out->readOnlyReason_ = writable.systemError();
    return status;
}

Status DiskImage::openReadOnly(const std::string& path, std::unique_ptr<DiskImage>& out) {
    std::unique_ptr<FileStore> store;
    Status status = FileStore::open(path, false, store);
    if (status.ok())
        out.reset(new DiskImage(std::move(store), path, true, journalPathFor(path)));
    return status;
}

std::unique_ptr<DiskImage> DiskImage::inMemory(std::vector<std::uint8_t>& bytes, bool readOnly) {
    return std::unique_ptr<DiskImage>(
        new DiskImage(std::make_unique<MemoryStore>(bytes), "(memory)", readOnly, {}));
}

bool DiskImage::waitForLock(LockKind kind) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(lockWaitMs.load());
    // A file system without locks leaves nothing to wait for.
    while (store_->lock(kind) == LockResult::Busy) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

Status DiskImage::acquire(LockKind kind) {
    if (!waitForLock(kind))
        return {ErrorCode::Busy, path_ + " is in use by another program; nothing was changed."};
    const LockKind before = lock_;
    lock_ = kind;
    Status status = recover();
    if (!status.ok()) {
        store_->lock(before);
        lock_ = before;
    }
    return status;
}

void DiskImage::release() {
    if (changeHolds_ > 0)
        return;
    const LockKind kind = readHolds_ > 0 ? LockKind::Shared : LockKind::None;
    if (kind != lock_)
        store_->lock(kind);
    lock_ = kind;
}

Status DiskImage::beginRead() {
    if (lock_ == LockKind::None) {
        Status status = acquire(LockKind::Shared);
        if (!status.ok())
            return status;
    }
    ++readHolds_;
    return {};
}

void DiskImage::endRead() {
    if (readHolds_ > 0 && --readHolds_ == 0)
        release();
}

Status DiskImage::beginChange() {
    if (readOnly_)
        return {ErrorCode::ReadOnly, "The disk image is open read-only; nothing was changed"};
    if (lock_ != LockKind::Exclusive) {
        Status status = acquire(LockKind::Exclusive);
        if (!status.ok())
            return status;
    }
    if (changeHolds_++ == 0)
        pending_.clear(); // started at the first write, once the layout is known
    return {};
}

Status DiskImage::commitChange() {
    if (changeHolds_ == 0)
        return {};
    if (--changeHolds_ > 0)
        return {};
    Status status = commitPending();
    release();
    return status;
}

void DiskImage::startPending() {
    if (!pending_.started())
        pending_.start(size_, layout_.headerBytes);
}

void DiskImage::takingFreeSector(SectorLink link, SectorLink itsLink) {
    if (changeHolds_ == 0 || !contains(link))
        return;
    startPending();
    pending_.takeFree(SectorOffset(link), {itsLink.track, itsLink.sector});
}

void DiskImage::freeingSectors(std::span<const SectorLink> links) {
    if (changeHolds_ == 0)
        return;
    startPending();
    for (SectorLink link : links)
        if (contains(link))
            pending_.markFreed(SectorOffset(link));
}

std::string DiskImage::takeNotice() {
    return std::exchange(notice_, {});
}

Status DiskImage::recover() {
    pending_.clear();
    if (journalPath_.empty())
        return {};
    size_ = store_->size();
    JournalState state = JournalState::None;
    Journal journal;
    Status status = readJournal(journalPath_, size_, state, journal);
    if (!status.ok() || state == JournalState::None)
        return status;
    bool own = false;
    if (state == JournalState::Complete) {
        status = belongsHere(journal, own);
        if (!status.ok())
            return status;
    }
    // Whoever can write the image settles the journal, holding the image alone for that, so the
    // file is whole again for every program; a change reports a failure.
    if (lock_ == LockKind::Exclusive)
        return settle(state, journal, own);
    if (!readOnly_ && waitForLock(LockKind::Exclusive)) {
        lock_ = LockKind::Exclusive;
        status = settle(state, journal, own);
        store_->lock(LockKind::Shared);
        lock_ = LockKind::Shared;
        if (status.ok())
            return status;
    }
    // Otherwise the image is read as the journal says it was, and nothing is written.
    const bool tell = !noticeGiven_;
    noticeGiven_ = true;
    if (state != JournalState::Complete)
        return {};
    if (!own) {
        if (tell)
            notice_ = path_ + ": " + journalPath_ +
                      " belongs to another image and was not applied; the image is read as it is";
        return {};
    }
    SystemInformationRecord sir;
    findLayout(sir);
    pending_.start(size_, layout_.headerBytes);
    for (const JournalRecord& record : journal.records)
        if (!pending_.write(*store_, record.offset, record.bytes))
            return {ErrorCode::ReadFailed, "Unable to read " + path_ + " through its journal " +
                                               journalPath_ + "; nothing was changed"};
    if (tell)
        notice_ = path_ + ": a change to it was interrupted; it is read as it was before that "
                          "change, and nothing was written: the file itself stays as the change "
                          "left it until it can be opened for writing";
    return {};
}

Status DiskImage::belongsHere(const Journal& journal, bool& own) {
    // A journal of the first format knows its image by the length alone.
    own = journal.imageSize == size_;
    std::vector<std::uint8_t> now;
    for (std::size_t i = 0; own && i < journal.records.size(); ++i) {
        const JournalRecord& record = journal.records[i];
        now.resize(record.bytes.size());
        if (!store_->read(record.offset, now))
            return {ErrorCode::ReadFailed, "Unable to read " + path_ + " to check its journal " +
                                               journalPath_ + "; nothing was changed"};
        own = holdsOldOrNew(record, now);
    }
    return {};
}

Status DiskImage::settle(JournalState state, const Journal& journal, bool own) {
    if (own)
        return rollBack(journal.records, true);
    // Cut short, or a journal of the first format made for another length: it was never acted
    // on.
    if (state != JournalState::Complete || !journal.identifies)
        return removeJournal(journalPath_);
    std::string keptAs;
    const Status status = setJournalAside(journalPath_, keptAs);
    if (!status.ok())
        return {status.code(), status.text() + "; the image was left as it is"};
    notice_ = path_ + ": " + journalPath_ +
              " belongs to another image and was not applied; it is " + "kept as " + keptAs +
              ", and the image is as it was";
    noticeGiven_ = true;
    return {};
}

Status DiskImage::rollBack(const std::vector<JournalRecord>& records, bool tell) {
    Status failed{ErrorCode::WriteFailed, "Unable to undo the interrupted change recorded in " +
                                              journalPath_ + "; nothing was changed"};
    for (const JournalRecord& record : records)
        if (!store_->write(record.offset, record.bytes))
            return failed;
    if (!records.empty() && !store_->sync())
        return failed;
    Status status = removeJournal(journalPath_);
    if (status.ok() && tell) {
        notice_ = path_ + ": a change to it was interrupted and has been undone; the image is as "
                          "it was before that change";
        noticeGiven_ = true;
    }
    return status;
}

Status DiskImage::commitPending() {
    if (!pending_.started() || pending_.empty()) {
        pending_.clear();
        return {};
    }
    Status failed{ErrorCode::WriteFailed,
                  "Unable to write the disk image " + path_ + "; nothing was changed"};
    if (journalPath_.empty()) {
        const bool written = pending_.writeTo(*store_) && store_->flush();
        pending_.clear();
        return written ? Status{} : failed;
    }
    // Nothing has reached the file yet: it holds what the journal must give back.
    JournalBuilder builder(size_);
    std::vector<std::uint8_t> found;
    std::vector<std::uint8_t> written;
    for (const auto& [offset, length] : pending_.regionsToKeep())
        for (std::uint64_t at = offset; at < offset + length; at += JournalSlice) {
            const auto slice =
                static_cast<std::size_t>(std::min(JournalSlice, offset + length - at));
            found.resize(slice);
            written.resize(slice);
            if (!store_->read(at, found) || !pending_.read(*store_, at, written)) {
                pending_.clear();
                return failed;
            }
            builder.add(at, found, written);
        }
    const std::vector<std::uint8_t> journal = builder.finish();
    Status status = writeJournal(journalPath_, path_, journal);
    if (!status.ok()) {
        pending_.clear();
        return status;
    }
    const bool imageWritten = pending_.writeTo(*store_) && store_->sync();
    pending_.clear();
    if (!imageWritten) {
        // Put back at once what may have reached the file; else the next open will.
        Journal own;
        decodeJournal(journal, size_, own);
        if (rollBack(own.records, false).ok())
            return failed;
        return {ErrorCode::WriteFailed, "Unable to write the disk image " + path_ +
                                            "; the change will be undone when it is next opened"};
    }
    status = removeJournal(journalPath_);
    if (!status.ok())
        return {status.code(), status.text() + "; the change is written, but may be undone when " +
                                   "the image is next opened"};
    return {};
}

bool DiskImage::readingAt(std::uint32_t headerBytes, SystemInformationRecord& sir,
                          ImageLayout& layout) {
    std::array<std::uint8_t, SirSize> bytes{};
    if (size_ < headerBytes + SirOffset + SirSize || !load(headerBytes + SirOffset, bytes))
        return false;
    sir = SystemInformationRecord::parse(bytes.data());
    layout = layoutForLength(size_, headerBytes, sir.maxTrack, sir.maxSector);
    return true;
}

// How much sense a reading makes: a length that its geometry gives exactly weighs most, then a
// real creation date, a directory chain that walks to its end, and a length that fits at all.
int DiskImage::sense(const SystemInformationRecord& sir, const ImageLayout& layout) {
    if (sir.maxSector < 5)
        return -1;
    ImageLayout walking = layout;
    if (!walking.fitsLength) {
        walking.trackZeroSectors = walking.maxSector;
        walking.headerBytes = 0;
    }
    auto inFile = [&](SectorLink link) {
        return walking.hasSector(link) &&
               std::uint64_t{walking.SectorOffset(link)} + SectorSize <= size_;
    };
    bool walks = false;
    SectorLink at{0, 5};
    for (std::uint64_t steps = size_ / SectorSize; steps > 0 && inFile(at); --steps) {
        std::array<std::uint8_t, 2> link{};
        if (!load(walking.SectorOffset(at), link))
            break;
        at = getLink(link.data());
        if (at.namesNoSector()) {
            walks = true;
            break;
        }
    }
    const bool exact = layout.fitsLength && layout.lengthFor(sir.maxTrack) == size_;
    return (exact ? 8 : 0) + (isRealDate(sir) ? 4 : 0) + (walks ? 2 : 0) +
           (layout.fitsLength ? 1 : 0);
}

bool DiskImage::findLayout(SystemInformationRecord& sir) {
    size_ = store_->size();
    layout_ = {};
    ImageLayout plain;
    const bool plainRead = readingAt(0, sir, plain);
    const auto headerBytes = static_cast<std::uint32_t>(size_ % SectorSize);
    SystemInformationRecord headerSir;
    ImageLayout header;
    if (headerBytes != 0 && readingAt(headerBytes, headerSir, header) && header.fitsLength &&
        headerSir.maxSector >= 5 && (!plainRead || sense(headerSir, header) > sense(sir, plain))) {
        sir = headerSir;
        layout_ = header;
        return true;
    }
    if (!plainRead)
        return false;
    layout_ = plain;
    if (!layout_.fitsLength) {
        // Read as the plain layout: the best guess for an image cut short.
        layout_.trackZeroSectors = layout_.maxSector;
        layout_.headerBytes = 0;
    }
    return true;
}

Status recognizeFlexImage(std::uint64_t length, const SystemInformationRecord* sir,
                          const ImageLayout& layout) {
    if (!sir)
        return notFlex("the file is too short (" + std::to_string(length) + " bytes)");
    if (sir->maxSector == 0)
        return notFlex("the System Information Record gives 0 sectors per track");
    if (sir->maxSector < 5)
        return notFlex("the System Information Record gives " + std::to_string(sir->maxSector) +
                       " sectors per track: too few for a FLEX directory");
    const SectorLink first{0, 5};
    if (!layout.hasSector(first) || std::uint64_t{layout.SectorOffset(first)} + SectorSize > length)
        return notFlex("the file is too short to hold its first directory sector");
    if (!layout.fitsLength && (sir->creationMonth > 12 || sir->creationDay > 31))
        return notFlex("the file is " + std::to_string(length) +
                       " bytes long, which fits no layout of its geometry, and its creation "
                       "date (" +
                       std::to_string(sir->creationMonth) + "/" + std::to_string(sir->creationDay) +
                       ") is no date");
    return {};
}

Status DiskImage::readSir(SystemInformationRecord& sir) {
    // Each operation starts from the file as it is now: another program may have changed it.
    if (!store_->forget())
        return {ErrorCode::WriteFailed, "Unable to write the disk image " + path_};
    const bool found = findLayout(sir);
    return recognizeFlexImage(size_, found ? &sir : nullptr, layout_);
}

Status DiskImage::requireKnownLayout() const {
    if (layout_.fitsLength)
        return {};
    return {ErrorCode::BadImage,
            "The disk image is " + std::to_string(size_) +
                " bytes long, which fits no layout of its geometry; nothing was changed"};
}

Status DiskImage::readSirForChange(SystemInformationRecord& sir) {
    const Status status = readSir(sir);
    return status.ok() ? requireKnownLayout() : status;
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

bool DiskImage::load(std::uint64_t offset, std::span<std::uint8_t> bytes) {
    return pending_.started() ? pending_.read(*store_, offset, bytes) : store_->read(offset, bytes);
}

Status DiskImage::readAt(std::uint64_t offset, std::span<std::uint8_t> bytes) {
    if (offset + bytes.size() > size_)
        return {ErrorCode::ReadFailed,
                "Read past the end of the disk image at offset " + std::to_string(offset)};
    if (!load(offset, bytes))
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
    // Every change goes through the journal.
    if (changeHolds_ == 0)
        return {ErrorCode::WriteFailed,
                "A write to the disk image outside a change was refused; nothing was changed"};
    ++writes_;
    startPending();
    if (!pending_.write(*store_, offset, bytes))
        return {ErrorCode::WriteFailed,
                "Unable to write the disk image at offset " + std::to_string(offset)};
    return {};
}

Status DiskImage::flush() {
    if (readOnly_ || changeHolds_ > 0)
        return {};
    if (!store_->flush())
        return {ErrorCode::WriteFailed, "Unable to write the disk image " + path_};
    return {};
}

} // namespace dw
