#pragma once

// Who owns each sector of an image, found in one walk: the system sectors (boot, SIR, reserved),
// the whole directory chain (also past its end marker), every entry's chain (also entries after
// the end marker), the sectors a damaged entry still names (its end, and the detached tail that
// leads to it), and the free chain. `check` reports from it, `repair` plans from it, and every
// change takes and frees sectors through it: a change writes only sectors the map gives to it
// alone, and refuses when a chain it touches is damaged.

#include "engine/Chain.h"
#include "engine/Directory.h"

#include <cstddef>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace dw {

enum class OwnerKind : std::uint8_t {
    System,    // track 0 sectors 1 to 4: the boot sectors, the SIR and the reserved sector
    Directory, // the directory chain from track 0 sector 5
    Entry,     // an entry's chain, or a sector a damaged entry names
    Free,      // the free chain
};

struct Owner {
    OwnerKind kind = OwnerKind::System;
    std::size_t entry = 0; // for Entry: its index in SectorMap::entries()

    static Owner of(std::size_t entry) { return {OwnerKind::Entry, entry}; }
    friend bool operator==(Owner, Owner) = default;
};

enum class EntryState : std::uint8_t {
    Unused,   // byte 0 is 0: the slot that ends the directory, or one after it
    Live,     // before the end, not deleted: a file
    Deleted,  // bit 7 of byte 0 set; its chain is not walked, as its sectors were freed
    AfterEnd, // not deleted but after the end: not listed, yet it still names its sectors
};

struct MappedEntry {
    DirectorySlot slot;
    EntryState state = EntryState::Unused;
    // Live and AfterEnd: walked from the start link as far as the links lead.
    ChainWalk chain;
    // When the chain never reaches the entry's end link: that sector, and before it the
    // sectors of no other chain that still lead to it (the part of a cut chain), in order.
    std::vector<SectorLink> detached;

    bool owns() const { return state == EntryState::Live || state == EntryState::AfterEnd; }
    std::string shownName() const { return slot.entry.name() + "." + slot.entry.ext(); }
};

// Words for the first thing wrong with a chain, to follow "NAME was not deleted: " or the like;
// `text` is empty when the chain is sound. `freeChain`: rebuilding the free chain mends it.
struct ChainDamage {
    std::string text;
    bool freeChain = false;
    explicit operator bool() const { return !text.empty(); }
};

class SectorMap {
public:
    static constexpr std::size_t NoEntry = static_cast<std::size_t>(-1);

    // Maps an image whose SIR was just read. Fails only when a sector cannot be read: damage is
    // recorded, for each caller to judge.
    static Status build(DiskImage& image, const SystemInformationRecord& sir, SectorMap& out);
    // Reads the SIR as a change does (readSirForChange) into `sir`, then maps the image.
    static Status buildForChange(DiskImage& image, SystemInformationRecord& sir, SectorMap& out);

    const SystemInformationRecord& sir() const { return sir_; }
    // Every slot of the directory chain, in directory order.
    const std::vector<MappedEntry>& entries() const { return entries_; }
    const ChainWalk& directoryChain() const { return directory_; }
    // Damaged when the directory chain breaks before the slot that ends it, so that entries
    // past the break, and the sectors they own, are unknown.
    const Status& directoryStatus() const { return directoryStatus_; }
    // The slot that ends the directory, where a new entry goes; NoEntry when every slot is used.
    std::size_t endSlot() const { return endSlot_; }
    // The first live entry whose name and extension match byte for byte; NoEntry when none.
    std::size_t findLive(const std::string& name, const std::string& ext) const;

    // The free chain from the SIR's first free sector, in chain order, as far as it leads.
    std::span<const SectorLink> freeChain() const {
        return std::span(free_.sectors).subspan(freeHead_);
    }
    const ChainWalk& freeWalk() const { return free_; }

    // A sector's owners in the order the walk found them; empty when nobody owns it.
    std::vector<Owner> owners(SectorLink link) const;
    bool owned(SectorLink link) const { return cells_.get(link) != 0; }
    // The owner found first; the sector must have one.
    Owner firstOwner(SectorLink link) const;
    bool ownedBy(SectorLink link, Owner owner) const;
    bool ownedOnlyBy(SectorLink link, Owner owner) const;
    // "the directory", "the free chain", "the system sectors" or the entry's "NAME.EXT".
    std::string ownerText(Owner owner) const;

    // The free chain as a change needs it: no loop or link outside the image, no sector of
    // track 0 or of another owner, and the SIR's first, last and count agreeing (an empty chain
    // is 0/0 first with a count of 0).
    const ChainDamage& freeChainDamage() const { return freeDamage_; }
    // A file's chain as a deletion needs it: whole, of the entry's count and end, on tracks 1
    // and up, and its own alone.
    ChainDamage chainDamage(std::size_t entry) const;
    // Empty when `owner` alone owns the sector a change is about to write, else the words for
    // who else does ("its sector 001-004 also belongs to ONE.TXT").
    std::string otherOwner(SectorLink link, Owner owner, const std::string& its = "its") const;
    // The records a change rewrites: the directory sector that holds `slot` (none for NoEntry)
    // must be the directory's alone, and the SIR's sector the system's.
    ChainDamage recordsDamage(std::size_t slot) const;

    // What a change did, so that a session goes on with a map that matches the image.
    // The first `taken` sectors of the free chain now hold the entry written into `slot`.
    void recordImport(std::size_t slot, const DirectoryEntry& entry, std::size_t taken,
                      const SystemInformationRecord& sirAfter);
    // The entry is deleted; its chain is now the free chain's tail.
    void recordDelete(std::size_t entry, const SystemInformationRecord& sirAfter);
    // The free chain's first sector now ends the directory, at byte `sectorOffset` of the image;
    // its ten slots are unused and the first of them ends the directory.
    void recordGrowth(std::uint32_t sectorOffset, const SystemInformationRecord& sirAfter);

private:
    static constexpr std::uint32_t Shared = 0x80000000u; // a cell that indexes shared_

    static std::string key(const std::string& name, const std::string& ext) {
        return name + '\0' + ext;
    }
    void makeLive(std::size_t entry);
    static std::uint32_t code(Owner owner);
    static Owner ownerOf(std::uint32_t code);
    void claim(SectorLink link, Owner owner);
    void reassign(SectorLink link, Owner from, Owner to);
    void walkDirectory(LinkReader& links);
    Status readSlots(DiskImage& image);
    Status findDetached(DiskImage& image, LinkReader& links);
    ChainDamage findFreeDamage() const;

    SystemInformationRecord sir_;
    std::size_t limit_ = 0; // the longest chain the file can hold, plus one
    ChainWalk directory_;
    Status directoryStatus_;
    std::vector<MappedEntry> entries_;
    std::size_t endSlot_ = NoEntry;
    ChainWalk free_;
    std::size_t freeHead_ = 0; // sectors of free_ taken by imports since the walk
    // Found once: a change is made only on a sound free chain, and leaves it sound.
    ChainDamage freeDamage_;
    // By link: 0 for nobody, the code of the only owner, or Shared | an index into shared_.
    LinkTable<std::uint32_t> cells_;
    std::vector<std::vector<Owner>> shared_;
    // The live entries by name and extension, for the many look-ups of a session.
    std::multimap<std::string, std::size_t> live_;
};

// A map kept from one change of a session to the next: made again only when the image was
// written by something else, or its SIR or length is not what the session last left.
class SessionMap {
public:
    // Reads the SIR as a change does (readSirForChange), then maps the image unless the map
    // still matches it.
    Status know(DiskImage& image);
    // The session's own writes are in the map (through its record functions).
    void caughtUp(const DiskImage& image) { writes_ = image.writeCount(); }
    void forget() { known_ = false; }
    SectorMap& map() { return map_; }

private:
    SectorMap map_;
    bool known_ = false;
    std::uint64_t size_ = 0;
    std::uint64_t writes_ = 0; // the image's writeCount when the map last matched it
};

} // namespace dw
