#include "engine/Check.h"

#include "engine/SectorMap.h"

#include <string>

namespace dw {

namespace {

class Checker {
public:
    Checker(DiskImage& image, const SectorMap& map, CheckReport& report)
        : image_(image), map_(map), sir_(map.sir()), report_(report) {}

    void run() {
        checkLength();
        checkDirectory();
        for (std::size_t i = 0; i < map_.entries().size(); ++i)
            if (map_.entries()[i].owns())
                checkFile(i);
        checkFreeChain();
        for (std::size_t i = 0; i < map_.entries().size(); ++i)
            visit(map_.entries()[i].detached, Owner::of(i), false);
        checkLostSectors();
    }

private:
    void find(FindingKind kind, std::vector<SectorLink> sectors, std::string text) {
        report_.findings.push_back(std::move(text));
        report_.details.push_back({kind, std::move(sectors)});
    }

    // The sector where a walk stopped and the link that stopped it.
    static std::vector<SectorLink> stopSectors(const ChainWalk& walk) {
        std::vector<SectorLink> sectors;
        if (!walk.sectors.empty())
            sectors.push_back(walk.sectors.back());
        if (walk.end == ChainWalk::End::Loop || walk.end == ChainWalk::End::OutsideImage)
            sectors.push_back(walk.badLink);
        return sectors;
    }

    // The length the image's layout gives its geometry: a shorter track 0 or a header is
    // found from the length, so only a length that fits no layout, or trailing bytes, remain.
    void checkLength() {
        const ImageLayout& layout = image_.layout();
        const std::uint64_t expected = layout.lengthFor(sir_.maxTrack);
        if (image_.fileSize() == expected)
            return;
        std::string geometry = std::to_string(sir_.maxTrack + 1) + " tracks of " +
                               std::to_string(sir_.maxSector) + " sectors";
        if (layout.trackZeroSectors != layout.maxSector)
            geometry += " (track 0: " + std::to_string(layout.trackZeroSectors) + ")";
        if (layout.headerBytes != 0)
            geometry += " after a header of " + std::to_string(layout.headerBytes) + " bytes";
        find(FindingKind::FileLength, {},
             "The file is " + std::to_string(image_.fileSize()) + " bytes long; " + geometry +
                 " need " + std::to_string(expected));
    }

    // Each sector of a chain as `owner` holds it: outside the geometry, or found before in
    // another chain (a file or free sector among the system sectors is told by its track).
    void visit(const std::vector<SectorLink>& sectors, Owner owner, bool geometry) {
        const std::string who = map_.ownerText(owner);
        for (SectorLink link : sectors) {
            if (geometry && link.track > sir_.maxTrack)
                find(FindingKind::OutsideGeometry, {link},
                     who + ": sector " + linkText(link) +
                         " lies outside the geometry (last track " + std::to_string(sir_.maxTrack) +
                         ")");
            const Owner first = map_.firstOwner(link);
            const bool toldByTrack =
                first.kind == OwnerKind::System && owner.kind != OwnerKind::Directory;
            if (first != owner && !toldByTrack)
                find(FindingKind::SharedSector, {link},
                     "Sector " + linkText(link) + " belongs to both " + map_.ownerText(first) +
                         " and " + who);
        }
    }

    // Track 0 holds only the boot, SIR and directory sectors, never file data or free sectors.
    void reportTrackZero(const ChainWalk& walk, const std::string& who) {
        for (SectorLink link : walk.sectors)
            if (link.track == 0) {
                find(FindingKind::TrackZero, {link},
                     who + ": sector " + linkText(link) +
                         " lies on track 0, among the system and directory sectors");
                return;
            }
    }

    // The directory owns its whole chain: disks formatted with a larger directory link sectors
    // of track 1 and on behind the last entry, which stay the directory's (and hold its later
    // entries), so they are neither lost nor free.
    void checkDirectory() {
        const ChainWalk& chain = map_.directoryChain();
        visit(chain.sectors, {OwnerKind::Directory}, true);
        if (!map_.directoryStatus().ok())
            find(FindingKind::DirectoryDamaged, {}, map_.directoryStatus().text());
        else if (chain.end != ChainWalk::End::Null)
            find(FindingKind::DirectoryDamaged, stopSectors(chain),
                 "The directory chain is damaged after its last entry: " + chainProblemText(chain));
        // Every slot after the end of the directory is unused: the next file imported goes into
        // the end slot, and a later slot that is not empty would then come into the directory.
        const std::vector<MappedEntry>& entries = map_.entries();
        for (std::size_t i = map_.endSlot(); i < entries.size(); ++i)
            if (entries[i].state != EntryState::Unused) {
                const DirectorySlot& slot = entries[i].slot;
                find(FindingKind::DirectoryDamaged, {slot.sector},
                     "Sector " + linkText(slot.sector) + " holds an entry (slot " +
                         std::to_string(slot.index + 1) +
                         ") after the end of the directory; the next file imported would "
                         "bring it back");
                return;
            }
    }

    // Entries after the end of the directory own their sectors, but are told of once above.
    void checkFile(std::size_t index) {
        const MappedEntry& mapped = map_.entries()[index];
        const DirectoryEntry& e = mapped.slot.entry;
        const ChainWalk& walk = mapped.chain;
        const bool live = mapped.state == EntryState::Live;
        const std::string who = mapped.shownName();
        visit(walk.sectors, Owner::of(index), live);
        if (!live || (e.startLink.isNull() && e.sectorCount == 0 && e.endLink.isNull()))
            return; // an empty file is sound
        reportTrackZero(walk, who);
        if (walk.end != ChainWalk::End::Null) {
            find(FindingKind::ChainDamaged, stopSectors(walk), who + ": " + chainProblemText(walk));
            return;
        }
        if (walk.sectors.size() != e.sectorCount)
            find(FindingKind::ChainLength, {},
                 who + ": the chain holds " + std::to_string(walk.sectors.size()) +
                     " sectors, the directory says " + std::to_string(e.sectorCount));
        if (walk.sectors.empty() || walk.sectors.back() != e.endLink)
            find(FindingKind::ChainEnd,
                 walk.sectors.empty() ? std::vector<SectorLink>{e.endLink}
                                      : std::vector<SectorLink>{walk.sectors.back(), e.endLink},
                 who + ": the chain ends at " +
                     (walk.sectors.empty() ? std::string("its start")
                                           : linkText(walk.sectors.back())) +
                     ", the directory says " + linkText(e.endLink));
    }

    void checkFreeChain() {
        const std::string who = "the free chain";
        if (sir_.firstFree.isNull()) {
            if (sir_.freeSectorCount != 0)
                find(FindingKind::FreeCount, {},
                     "The free chain is empty but the SIR counts " +
                         std::to_string(sir_.freeSectorCount) + " free sectors");
            return;
        }
        const ChainWalk& walk = map_.freeWalk();
        visit(walk.sectors, {OwnerKind::Free}, true);
        reportTrackZero(walk, who);
        if (walk.end != ChainWalk::End::Null) {
            find(FindingKind::FreeChainDamaged, stopSectors(walk),
                 "The free chain is damaged: " + chainProblemText(walk));
            return;
        }
        if (walk.sectors.size() != sir_.freeSectorCount)
            find(FindingKind::FreeCount, {},
                 "The free chain holds " + std::to_string(walk.sectors.size()) +
                     " sectors, the SIR counts " + std::to_string(sir_.freeSectorCount));
        if (walk.sectors.back() != sir_.lastFree)
            find(FindingKind::FreeEnd, {walk.sectors.back(), sir_.lastFree},
                 "The free chain ends at " + linkText(walk.sectors.back()) + ", the SIR says " +
                     linkText(sir_.lastFree));
    }

    // Data sectors (tracks 1 and up) that belong to no chain, reported as ranges.
    void checkLostSectors() {
        std::vector<std::pair<SectorLink, SectorLink>> ranges;
        std::vector<SectorLink> lostSectors;
        for (int t = 1; t <= sir_.maxTrack; ++t) {
            for (int s = 1; s <= sir_.maxSector; ++s) {
                SectorLink link{static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(s)};
                if (!image_.contains(link) || map_.owned(link))
                    continue;
                lostSectors.push_back(link);
                if (!ranges.empty() && isNext(ranges.back().second, link))
                    ranges.back().second = link;
                else
                    ranges.emplace_back(link, link);
            }
        }
        const std::size_t lost = lostSectors.size();
        if (lost == 0)
            return;
        std::string text =
            std::to_string(lost) + (lost == 1 ? " sector is" : " sectors are") + " in no chain:";
        const std::size_t shown = ranges.size() < 8 ? ranges.size() : 8;
        for (std::size_t i = 0; i < shown; ++i) {
            text += " " + linkText(ranges[i].first);
            if (ranges[i].second != ranges[i].first)
                text += ".." + linkText(ranges[i].second);
        }
        if (shown < ranges.size())
            text += " ...";
        find(FindingKind::LostSectors, std::move(lostSectors), text);
    }

    bool isNext(SectorLink a, SectorLink b) const {
        if (a.track == b.track)
            return b.sector == a.sector + 1;
        return b.track == a.track + 1 && a.sector == sir_.maxSector && b.sector == 1;
    }

    DiskImage& image_;
    const SectorMap& map_;
    const SystemInformationRecord& sir_;
    CheckReport& report_;
};

} // namespace

CheckReport checkImage(DiskImage& image) {
    CheckReport report;
    const ImageRead hold(image);
    SystemInformationRecord sir;
    Status status = hold.status().ok() ? image.readSir(sir) : hold.status();
    SectorMap map;
    if (status.ok())
        status = SectorMap::build(image, sir, map);
    if (!status.ok()) {
        report.findings.push_back(status.text());
        report.details.push_back({FindingKind::Unreadable, {}});
        return report;
    }
    Checker(image, map, report).run();
    return report;
}

} // namespace dw
