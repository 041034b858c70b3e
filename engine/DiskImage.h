#pragma once

// The open image. Every access is a positioned read or write of a whole record, and this is
// the one place that maps a sector link to a byte offset. Nothing of the image is cached
// between operations except its length and layout, found again with each fresh read of the SIR.
//
// Commands hold the image while they run: reading ones share it with other readers, a change
// has it alone (advisory locks, so another Diskwright waits). A change is all or nothing: its
// writes are held until it commits, then the original bytes go to a rollback journal beside
// the image (see Journal.h), the image is written and synced, and the journal is removed and
// that synced too. An image found with its journal is put back first by anyone who can write
// it, readers too, so the file is whole again for every other program; opened read-only, it is
// read as it was. A journal that belongs to another image is set aside, never applied.

#include "engine/Format.h"
#include "engine/Journal.h"
#include "engine/PendingWrites.h"
#include "engine/SectorStore.h"
#include "engine/Status.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace dw {

// Where the sectors lie in the file. Besides the plain layout (every track of maxSector
// sectors from byte 0), real collections hold images whose track 0 has fewer sectors (often
// single density on a double-density disk) and images with a short header before track 0.
struct ImageLayout {
    std::uint8_t maxSector = 0;        // sectors per track, from the SIR
    std::uint8_t trackZeroSectors = 0; // sectors of track 0: maxSector unless it is shorter
    std::uint32_t headerBytes = 0;     // bytes before track 0 sector 1
    // False when the file's length fits no layout of its SIR's geometry: the plain layout is
    // then assumed for reading, and nothing is written.
    bool fitsLength = true;

    bool hasSector(SectorLink link) const {
        return link.sector != 0 && link.sector <= (link.track == 0 ? trackZeroSectors : maxSector);
    }
    // Byte offset of a sector in the file; the link must be one hasSector accepts.
    std::uint32_t SectorOffset(SectorLink link) const {
        const std::uint32_t index =
            link.track == 0 ? link.sector - 1u
                            : trackZeroSectors + (link.track - 1u) * maxSector + link.sector - 1u;
        return headerBytes + index * SectorSize;
    }
    std::uint32_t sirOffset() const { return headerBytes + SirOffset; }
    // The file length this layout gives tracks 0..maxTrack.
    std::uint64_t lengthFor(std::uint8_t maxTrack) const {
        return headerBytes +
               (std::uint64_t{trackZeroSectors} + std::uint64_t{maxTrack} * maxSector) * SectorSize;
    }
};

// The layout a file of `length` bytes has when the SIR found `headerBytes` into it gives this
// geometry: every track whole, or track 0 shorter by whole sectors (at least 5 left). A file
// longer than the geometry keeps the plain layout. fitsLength is false when no rule fits.
ImageLayout layoutForLength(std::uint64_t length, std::uint32_t headerBytes, std::uint8_t maxTrack,
                            std::uint8_t maxSector);

// Whether a file of `length` bytes is a FLEX image at all, from the SIR (`sir` is null when the
// file is too short to hold one) and the layout found for it. BadImage, with the deciding fact,
// for a file too short for a SIR or for its first directory sector, fewer than 5 sectors per
// track, or a length that fits no layout of its geometry together with a creation date that is
// no date: another system's disk (a damaged FLEX image keeps at least its date).
Status recognizeFlexImage(std::uint64_t length, const SystemInformationRecord* sir,
                          const ImageLayout& layout);

class DiskImage {
public:
    // Opens read-write, else read-only. Fails with OpenFailed when neither works, and with
    // BadImage for anything but a regular file (a folder, device or pipe), without waiting.
    static Status open(const std::string& path, std::unique_ptr<DiskImage>& out);
    static Status openReadOnly(const std::string& path, std::unique_ptr<DiskImage>& out);
    // An image held in `bytes`, which must outlive it; writes change `bytes` in place.
    static std::unique_ptr<DiskImage> inMemory(std::vector<std::uint8_t>& bytes, bool readOnly);

    ~DiskImage();
    DiskImage(const DiskImage&) = delete;
    DiskImage& operator=(const DiskImage&) = delete;

    // How long a command waits for an image that another program holds (a few seconds).
    static void setLockWait(std::chrono::milliseconds wait);

    // Holds nest: the outermost takes the lock (waiting at most the lock wait, then Busy:
    // "IMAGE is in use by another program; nothing was changed.") and the outermost change
    // commits. Writes are refused outside a change.
    Status beginRead();
    void endRead();
    Status beginChange();
    // Ends a change hold; the outermost writes the change (see above), and when that fails
    // the image is as it was before the change. What an operation wrote before it failed
    // stays, as it would have with every write going straight to the file.
    Status commitChange();
    // Drops every write of the running change, for a step that must not be left half done;
    // the holds stay.
    void discardWrites() { pending_.clear(); }
    bool inChange() const { return changeHolds_ > 0; }

    // For the journal: the sector is taken from the free chain by the running change, where it
    // links to `itsLink` (as read in this change). Unless the change itself freed it
    // (freeingSectors), its data bytes belonged to no file when the change began: only its
    // link goes into the journal, so a large import costs no copy of what it overwrites.
    void takingFreeSector(SectorLink link, SectorLink itsLink);
    void freeingSectors(std::span<const SectorLink> links);

    // What the user should hear once (an interrupted change undone, a journal set aside);
    // empty when nothing.
    std::string takeNotice();

    const std::string& path() const { return path_; }
    bool readOnly() const { return readOnly_; }
    // Why open() found the image open for reading only (the errno of opening it for writing).
    int readOnlyReason() const { return readOnlyReason_; }
    std::uint64_t fileSize() const { return size_; }
    const ImageLayout& layout() const { return layout_; }
    // Grows with every write, so that what a caller knows of the image can tell it is stale.
    std::uint64_t writeCount() const { return writes_; }

    // Measures the file, finds its layout and reads the SIR from it. Refuses a file that is no
    // FLEX image (see recognizeFlexImage).
    Status readSir(SystemInformationRecord& sir);
    Status writeSir(const SystemInformationRecord& sir);

    // Before a change: refuses an image whose length fits no known layout (BadImage), since
    // sector addresses might name the wrong bytes and a write could land inside another file.
    Status requireKnownLayout() const;
    // readSir, then requireKnownLayout: the start of every operation that writes.
    Status readSirForChange(SystemInformationRecord& sir);

    // True when the link names a sector of the layout that lies wholly inside the file. Tracks
    // above maxTrack are addressable; the consistency check reports them.
    bool contains(SectorLink link) const;
    std::uint32_t SectorOffset(SectorLink link) const { return layout_.SectorOffset(link); }

    // Whole sectors and link fields; each refuses a link that `contains` rejects (InvalidLink).
    Status readSector(SectorLink link, Sector& out);
    Status writeSector(SectorLink link, const Sector& sector);
    Status readLink(SectorLink at, SectorLink& out);
    Status writeLink(SectorLink at, SectorLink value);
    // Consecutive sectors of the file in one transfer: `links` must lie back to back in the
    // file (as a chain in address order does); `bytes` holds 256 bytes for each.
    Status writeSectors(std::span<const SectorLink> links, std::span<const std::uint8_t> bytes);

    // Directory slots by their byte offset in the file (offsets come from the directory walk).
    Status readEntry(std::uint32_t offset, DirectoryEntry& out);
    Status writeEntry(std::uint32_t offset, const DirectoryEntry& entry);

    // Raw positioned transfers, bounded by the file's length (writes never extend the file).
    Status readAt(std::uint64_t offset, std::span<std::uint8_t> bytes);
    Status writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    // Outside a change: what was written is in the file. Inside one the commit does that.
    Status flush();

private:
    DiskImage(std::unique_ptr<SectorStore> store, std::string path, bool readOnly,
              std::string journalPath);
    // Length and layout from the store; false when no SIR can be read at all. A length that
    // is no multiple of 256 may mean a header of that many bytes, or a plain image with bytes
    // after its end or cut short: the reading whose SIR and directory make more sense wins.
    bool findLayout(SystemInformationRecord& sir);
    bool readingAt(std::uint32_t headerBytes, SystemInformationRecord& sir, ImageLayout& layout);
    int sense(const SystemInformationRecord& sir, const ImageLayout& layout);
    bool load(std::uint64_t offset, std::span<std::uint8_t> bytes);
    void startPending();

    Status acquire(LockKind kind);
    bool waitForLock(LockKind kind);
    void release();
    // After the lock is taken: an interrupted change's journal is acted on.
    Status recover();
    // With the image alone: the journal is applied, set aside or removed.
    Status settle(JournalState state, const Journal& journal, bool own);
    // False when a region the journal would restore holds neither its old nor its new bytes.
    Status belongsHere(const Journal& journal, bool& own);
    // Puts the records back and removes the journal; `tell` tells the user once.
    Status rollBack(const std::vector<JournalRecord>& records, bool tell);
    Status commitPending();

    std::unique_ptr<SectorStore> store_;
    std::string path_;
    bool readOnly_ = false;
    int readOnlyReason_ = 0;
    std::string journalPath_; // empty for an image in memory: no lock and no journal
    std::uint64_t size_ = 0;
    ImageLayout layout_;
    std::uint64_t writes_ = 0;

    LockKind lock_ = LockKind::None;
    int readHolds_ = 0;
    int changeHolds_ = 0;
    // The running change's writes; or, read-only, the originals of an interrupted change.
    PendingWrites pending_;
    std::string notice_;
    bool noticeGiven_ = false;
};

// A reading command's hold for the length of a scope.
class ImageRead {
public:
    explicit ImageRead(DiskImage& image) : image_(image), status_(image.beginRead()) {}
    ~ImageRead() {
        if (status_.ok())
            image_.endRead();
    }
    ImageRead(const ImageRead&) = delete;
    ImageRead& operator=(const ImageRead&) = delete;
    const Status& status() const { return status_; }

private:
    DiskImage& image_;
    Status status_;
};

// A change for the length of a scope: commit() ends it and tells how the writing went;
// leaving the scope without it commits too, unheard.
class ImageChange {
public:
    explicit ImageChange(DiskImage& image) : image_(image), status_(image.beginChange()) {}
    ~ImageChange() { commit(); }
    ImageChange(const ImageChange&) = delete;
    ImageChange& operator=(const ImageChange&) = delete;
    const Status& status() const { return status_; }
    Status commit() {
        if (!status_.ok() || done_)
            return status_;
        done_ = true;
        return image_.commitChange();
    }

private:
    DiskImage& image_;
    Status status_;
    bool done_ = false;
};

} // namespace dw
