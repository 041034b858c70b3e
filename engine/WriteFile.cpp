#include "engine/WriteFile.h"

#include "engine/Delete.h"
#include "engine/Import.h"

#include <algorithm>

namespace dw {

namespace {

const char* const NothingChanged = "; nothing was changed";

// Whether `next` is the sector after `at` on tracks of `maxSector` sectors.
bool follows(SectorLink at, SectorLink next, std::uint8_t maxSector) {
    if (at.sector < maxSector)
        return next.track == at.track && next.sector == at.sector + 1;
    return next.track == at.track + 1 && next.sector == 1;
}

} // namespace

bool makeSectorMap(const std::vector<SectorLink>& chain, std::uint8_t maxSector,
                   std::vector<std::uint8_t>& map, std::size_t& runs) {
    map.assign(SectorMapBytes, 0);
    runs = 0;
    for (std::size_t i = 2; i < chain.size(); ++runs) {
        std::size_t count = 1;
        while (i + count < chain.size() && count < 255 &&
               follows(chain[i + count - 1], chain[i + count], maxSector))
            ++count;
        if (runs < SectorMapRuns) {
            map[3 * runs] = chain[i].track;
            map[3 * runs + 1] = chain[i].sector;
            map[3 * runs + 2] = static_cast<std::uint8_t>(count);
        }
        i += count;
    }
    return runs <= SectorMapRuns;
}

std::vector<SectorLink> sectorsOfMap(const std::uint8_t* map, std::uint8_t maxSector) {
    std::vector<SectorLink> sectors;
    for (std::size_t run = 0; run < SectorMapRuns && map[3 * run + 2] != 0; ++run) {
        int track = map[3 * run];
        int sector = map[3 * run + 1];
        for (int k = 0; k < map[3 * run + 2] && track < 256; ++k) {
            sectors.push_back(
                {static_cast<std::uint8_t>(track), static_cast<std::uint8_t>(sector)});
            if (sector >= maxSector) {
                ++track;
                sector = 1;
            } else {
                ++sector;
            }
        }
    }
    return sectors;
}

Status readWholeFile(DiskImage& image, const SectorMap& map, std::size_t entry,
                     WholeFlexFile& out) {
    const MappedEntry& file = map.entries()[entry];
    if (const ChainDamage damage = map.chainDamage(entry))
        return {ErrorCode::Damaged, file.shownName() + " was not copied: " + damage.text};
    const DirectoryEntry& e = file.slot.entry;
    out = {};
    out.name = {e.name(), e.ext()};
    out.date = {fullYear(e.year), e.month, e.day};
    out.randomFlag = e.randomFlag;
    const std::vector<SectorLink>& chain = file.chain.sectors;
    // Room for all of it at once; the payloads are appended, never zeroed first.
    out.data.reserve(chain.size() * SectorDataSize);
    // Sectors that lie back to back in the file come in one transfer.
    constexpr std::size_t RunSectors = 256;
    std::vector<std::uint8_t> run;
    for (std::size_t i = 0; i < chain.size();) {
        std::size_t count = 1;
        while (i + count < chain.size() && count < RunSectors &&
               image.SectorOffset(chain[i + count]) ==
                   image.SectorOffset(chain[i + count - 1]) + SectorSize)
            ++count;
        run.resize(count * SectorSize);
        if (Status status = image.readAt(image.SectorOffset(chain[i]), run); !status.ok())
            return status;
        for (auto sector = run.begin(); sector != run.end(); sector += SectorSize)
            out.data.insert(out.data.end(), sector + SectorHeaderSize, sector + SectorSize);
        i += count;
    }
    return {};
}

class FileWriter::Impl {
public:
    explicit Impl(DiskImage& image) : image_(image) {}
    WriteFileResult write(WholeFlexFile file, bool replace);

private:
    WriteFileResult refuse(ErrorCode code, const std::string& text) {
        result_.status = {code, text};
        return result_;
    }

    DiskImage& image_;
    SessionMap kept_;
    WriteFileResult result_;
};

WriteFileResult FileWriter::Impl::write(WholeFlexFile file, bool replace) {
    result_ = {};
    const std::string name = file.name.text();
    result_.flexName = name;
    if (image_.readOnly())
        return refuse(ErrorCode::ReadOnly, "The disk image is open read-only; nothing was changed");
    if (!storable(file.name))
        return refuse(ErrorCode::InvalidName,
                      "\"" + name +
                          "\" is not a FLEX file name (1 to 8 and 0 to 3 printable characters)" +
                          NothingChanged);
    const std::size_t sectors = (file.data.size() + SectorDataSize - 1) / SectorDataSize;

    ImageChange change(image_);
    Status status = change.status();
    if (status.ok())
        status = kept_.know(image_);
    if (!status.ok())
        return refuse(status.code(), status.text());
    SectorMap& map = kept_.map();
    if (!map.directoryStatus().ok())
        return refuse(ErrorCode::Damaged,
                      name + " was not written: " + map.directoryStatus().fact() + NothingChanged);
    const std::size_t old = map.findLive(file.name.name, file.name.ext);
    if (old != SectorMap::NoEntry && !replace)
        return refuse(ErrorCode::Exists, name + " is already on the disk" + NothingChanged);

    // Every chain the write touches is judged before the first write.
    const std::size_t slot = old != SectorMap::NoEntry ? old : map.endSlot();
    ChainDamage damage = storeDamage(map, slot);
    if (!damage && old != SectorMap::NoEntry)
        damage = map.chainDamage(old);
    if (damage)
        return refuse(ErrorCode::Damaged, name + " was not written: " + damage.text +
                                              NothingChanged +
                                              (damage.freeChain ? RepairHint : ""));

    // The sectors it gets: after the directory's new one, the free chain's, then those of the
    // file it replaces (its deletion appends them).
    std::vector<SectorLink> chain(map.freeChain().begin(), map.freeChain().end());
    if (old != SectorMap::NoEntry) {
        const std::vector<SectorLink>& freed = map.entries()[old].chain.sectors;
        chain.insert(chain.end(), freed.begin(), freed.end());
    }
    const std::size_t forDirectory = slot == SectorMap::NoEntry ? 1 : 0;
    if (chain.size() < sectors + forDirectory)
        return refuse(
            ErrorCode::DiskFull,
            name + " needs " + std::to_string(sectors) + (sectors == 1 ? " sector" : " sectors") +
                (forDirectory != 0 ? " and one more for the full directory" : "") + ", and " +
                std::to_string(chain.size()) + (chain.size() == 1 ? " is free" : " are free") +
                (old != SectorMap::NoEntry ? " with those of the file it replaces" : "") +
                NothingChanged);
    chain.erase(chain.begin(), chain.begin() + static_cast<std::ptrdiff_t>(forDirectory));
    chain.resize(sectors);
    file.data.resize(sectors * SectorDataSize);
    if (file.randomFlag != 0) {
        std::vector<std::uint8_t> sectorMap;
        std::size_t runs = 0;
        if (!makeSectorMap(chain, map.sir().maxSector, sectorMap, runs))
            return refuse(ErrorCode::DiskFull,
                          name + " is a random file whose sectors would lie in " +
                              std::to_string(runs) + " runs, more than its sector map holds (" +
                              std::to_string(SectorMapRuns) + ")" + NothingChanged);
        std::copy_n(sectorMap.begin(), std::min(file.data.size(), SectorMapBytes),
                    file.data.begin());
    }

    if (old != SectorMap::NoEntry)
        status = deleteEntry(image_, map, old);
    if (status.ok())
        status = writeFlexFile(
            image_, map, slot,
            {file.name, file.date, file.randomFlag, std::move(file.data), sectors}, sectors);
    if (status.ok())
        status = change.commit();
    if (!status.ok()) {
        kept_.forget();
        return refuse(status.code(), status.text());
    }
    kept_.caughtUp(image_);
    result_.sectors = static_cast<std::uint16_t>(sectors);
    result_.replaced = old != SectorMap::NoEntry;
    result_.directoryGrew = forDirectory != 0;
    return result_;
}

FileWriter::FileWriter(DiskImage& image) : impl_(std::make_unique<Impl>(image)) {}

FileWriter::~FileWriter() = default;

WriteFileResult FileWriter::write(WholeFlexFile file, bool replace) {
    return impl_->write(std::move(file), replace);
}

WriteFileResult writeFile(DiskImage& image, WholeFlexFile file, bool replace) {
    return FileWriter(image).write(std::move(file), replace);
}

} // namespace dw
