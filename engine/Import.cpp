#include "engine/Import.h"

#include "engine/Chain.h"
#include "engine/Delete.h"
#include "engine/Directory.h"
#include "engine/SpaceCompression.h"

#include <algorithm>
#include <array>
#include <cstdio>

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

struct Source {
    std::vector<std::uint8_t> bytes;
    bool truncated = false; // the file holds more than `bytes`
};

Status readSource(const std::string& path, Source& source) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return {ErrorCode::OpenFailed, "Unable to open " + path + "; it was not imported"};
    std::vector<std::uint8_t> chunk(64 * 1024);
    bool failed = false;
    while (source.bytes.size() < MaxSourceBytes) {
        std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file);
        source.bytes.insert(source.bytes.end(), chunk.begin(),
                            chunk.begin() + static_cast<std::ptrdiff_t>(got));
        if (got < chunk.size()) {
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

// The data areas of the file's sectors, with the source position after each, so that a full
// disk can tell whether source data remains behind a sector.
struct Blocks {
    std::vector<std::array<std::uint8_t, SectorDataSize>> data;
    std::vector<std::size_t> sourceEnd;
};

Blocks binaryBlocks(const Source& source) {
    Blocks blocks;
    const std::vector<std::uint8_t>& bytes = source.bytes;
    for (std::size_t pos = 0; pos < bytes.size() && blocks.data.size() < MaxSectors;) {
        std::array<std::uint8_t, SectorDataSize> data{};
        std::size_t n = std::min<std::size_t>(SectorDataSize, bytes.size() - pos);
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(pos), n, data.begin());
        pos += n;
        blocks.data.push_back(data);
        blocks.sourceEnd.push_back(pos);
    }
    return blocks;
}

// Line feeds: one after a carriage return is dropped, any other becomes a carriage return.
// The previous byte carries over from sector to sector; a sector that has read its first byte
// is kept even when that byte was a dropped line feed.
Blocks textBlocks(const Source& source, bool stripLineFeeds) {
    Blocks blocks;
    const std::vector<std::uint8_t>& bytes = source.bytes;
    std::uint8_t previous = 0;
    for (std::size_t pos = 0; pos < bytes.size() && blocks.data.size() < MaxSectors;) {
        std::array<std::uint8_t, SectorDataSize> data{};
        std::size_t stored = 0;
        while (stored < data.size() && pos < bytes.size()) {
            const std::uint8_t byte = bytes[pos++];
            if (stripLineFeeds && byte == 0x0A) {
                if (previous != 0x0D)
                    data[stored++] = 0x0D;
            } else {
                data[stored++] = byte;
            }
            previous = byte;
        }
        blocks.data.push_back(data);
        blocks.sourceEnd.push_back(pos);
    }
    return blocks;
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
        if (!image.contains(current, sir.maxSector))
            return damaged("link " + linkText(current) + " lies outside the disk image");
        if (taken[linkIndex(current)])
            return damaged("it returns to sector " + linkText(current));
        taken[linkIndex(current)] = true;
        SectorLink next;
        Status status = image.readLink(current, sir.maxSector, next);
        if (!status.ok())
            return status;
        out.sectors.push_back(current);
        out.links.push_back(next);
        current = next;
    }
    out.nextFree = current;
    out.exhausted = hasZeroByte(current);
    if (!out.exhausted && !image.contains(current, sir.maxSector))
        return damaged("link " + linkText(current) + " lies outside the disk image");
    if (!out.exhausted && taken[linkIndex(current)])
        return damaged("it returns to sector " + linkText(current));
    return {};
}

// On a damaged image the free chain may run into the directory or a file; none of their
// sectors is ever overwritten. A file's chain counts as far as its links lead.
Status checkUnowned(DiskImage& image, std::uint8_t maxSector,
                    const std::vector<SectorLink>& sectors) {
    std::vector<bool> taking(256 * 256, false);
    for (SectorLink link : sectors)
        taking[linkIndex(link)] = true;
    const std::size_t limit = image.fileSize() / SectorSize + 1;
    auto clash = [&](SectorLink start, const std::string& owner) -> Status {
        for (SectorLink link : walkChain(image, maxSector, start, limit).sectors) {
            if (taking[linkIndex(link)])
                return {ErrorCode::Damaged, "The free chain is damaged: its sector " +
                                                linkText(link) + " also belongs to " + owner};
        }
        return {};
    };
    Status status = clash(FirstDirectorySector, "the directory");
    std::vector<DirectoryEntry> files;
    Status walk = walkDirectory(image, maxSector, [&](const DirectorySlot& slot) {
        if (slot.entry.isLive())
            files.push_back(slot.entry);
        return SlotAction::Continue;
    });
    if (status.ok())
        status = walk;
    for (std::size_t i = 0; status.ok() && i < files.size(); ++i)
        status = clash(files[i].startLink, files[i].name() + "." + files[i].ext());
    return status;
}

struct Scan {
    std::uint32_t slotOffset = 0; // 0: no never-used slot
    bool matched = false;
    std::uint32_t matchOffset = 0;
    DirectoryEntry match;
};

Status scanDirectory(DiskImage& image, std::uint8_t maxSector, const FlexName& name, Scan& scan) {
    return walkDirectory(image, maxSector, [&](const DirectorySlot& slot) {
        if (slot.entry.isEndOfDirectory()) {
            scan.slotOffset = slot.offset;
            return SlotAction::Stop;
        }
        if (slot.entry.isLive() && slot.entry.name() == name.name && slot.entry.ext() == name.ext) {
            scan.matched = true;
            scan.matchOffset = slot.offset;
            scan.match = slot.entry;
            return SlotAction::Stop;
        }
        return SlotAction::Continue;
    });
}

class Importer {
public:
    Importer(DiskImage& image, const std::string& hostPath, const ImportOptions& options,
             ImportQuestions& questions)
        : image_(image), hostPath_(hostPath), options_(options), questions_(questions) {}

    ImportResult run(const std::string& flexNameOverride);

private:
    ImportResult fail(const Status& status) {
        if (status.code() != ErrorCode::Cancelled)
            questions_.tell(status.text());
        result_.status = status;
        return result_;
    }
    ImportResult cancelled() {
        const std::string what = result_.flexName.empty() ? "the file" : result_.flexName;
        return fail({ErrorCode::Cancelled, what + " was not imported"});
    }
    std::string notImported() const { return "; " + result_.flexName + " was not imported"; }
    bool settleName(const std::string& flexNameOverride);
    bool textMode(const Source& source);
    Status commit(const SystemInformationRecord& sir, const Blocks& blocks,
                  const Allocation& allocation, std::uint32_t slotOffset);

    DiskImage& image_;
    const std::string& hostPath_;
    const ImportOptions& options_;
    ImportQuestions& questions_;
    FlexName name_;
    ImportResult result_;
};

bool Importer::settleName(const std::string& flexNameOverride) {
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

bool Importer::textMode(const Source& source) {
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

ImportResult Importer::run(const std::string& flexNameOverride) {
    if (image_.readOnly())
        return fail(
            {ErrorCode::ReadOnly, "The disk image is open read-only; nothing was imported"});
    if (!settleName(flexNameOverride))
        return cancelled();

    // The whole source is read before anything is written, so a failed read changes nothing.
    Source source;
    Status status = readSource(hostPath_, source);
    if (!status.ok())
        return fail(status);
    if (source.bytes.empty())
        return fail({ErrorCode::ReadFailed, hostPath_ +
                                                " is empty and a FLEX file needs at least one "
                                                "sector; it was not imported"});

    SystemInformationRecord sir;
    status = image_.readSir(sir);
    if (status.ok())
        status = image_.requireWholeGeometry(sir);
    if (!status.ok())
        return fail(status);

    Scan scan;
    status = scanDirectory(image_, sir.maxSector, name_, scan);
    if (!status.ok())
        return fail({status.code(), status.text() + notImported()});
    bool replacing = false;
    if (scan.matched) {
        if (!questions_.askReplace(ReplaceQuestion))
            return cancelled();
        replacing = true;
    } else if (scan.slotOffset == 0) {
        return fail({ErrorCode::DirectoryFull, "The directory is full" + notImported()});
    }

    // Checked before a replacement too: one that frees no sector must not delete for nothing.
    const bool freesSectors = replacing && !scan.match.startLink.isNull();
    if (!freesSectors && hasZeroByte(sir.firstFree))
        return fail({ErrorCode::InvalidLink, firstFreeLinkMessage(sir.firstFree)});
    result_.text = textMode(source);
    const bool compress = result_.text && options_.applySpaceCompression;
    if (compress && source.truncated) // what was not read could fit once compressed
        return fail({ErrorCode::DiskFull, hostPath_ + " is too large" + notImported()});
    if (compress) // the line-feed rule goes first here, before counts of 10 or 13 exist
        source.bytes = compressedText(source.bytes, options_.stripLineFeeds);
    const Blocks blocks = result_.text ? textBlocks(source, options_.stripLineFeeds && !compress)
                                       : binaryBlocks(source);

    std::uint32_t slotOffset = scan.slotOffset;
    if (replacing) {
        status = deleteEntryAt(image_, scan.matchOffset, scan.match, sir);
        if (!status.ok())
            return fail({status.code(), status.text() + notImported()});
        slotOffset = scan.matchOffset;
        if (hasZeroByte(sir.firstFree))
            return fail({ErrorCode::InvalidLink, firstFreeLinkMessage(sir.firstFree)});
    }

    Allocation allocation;
    status = allocate(image_, sir, blocks.data.size(), allocation);
    if (status.ok())
        status = checkUnowned(image_, sir.maxSector, allocation.sectors);
    if (!status.ok())
        return fail({status.code(), status.text() + notImported()});
    if (allocation.sectors.size() < blocks.data.size() && !questions_.askPartial(DiskFullQuestion))
        return cancelled();

    // Never reached: the scan refuses a file without a slot before anything is written.
    if (slotOffset == 0)
        return fail({ErrorCode::DirectoryFull, "OOPS - We just screwed up"});

    status = commit(sir, blocks, allocation, slotOffset);
    if (!status.ok())
        return fail(status);
    result_.committed = true;
    result_.sectorsUsed = static_cast<std::uint16_t>(allocation.sectors.size());
    return result_;
}

// Data sectors in chain order, each keeping its free-chain link; then the end link, the SIR,
// the entry and a flush. Until the SIR is written the free chain still runs through the new
// sectors, so a failure half-way loses no free sector.
Status Importer::commit(const SystemInformationRecord& sirBefore, const Blocks& blocks,
                        const Allocation& allocation, std::uint32_t slotOffset) {
    const std::size_t used = allocation.sectors.size();
    const std::string stopped = "; the import of " + result_.flexName + " stopped";
    for (std::size_t i = 0; i < used; ++i) {
        Sector sector{};
        putLink(sector.data(), allocation.links[i]);
        putBigEndian16(sector.data() + 2, static_cast<std::uint16_t>(i + 1));
        std::copy(blocks.data[i].begin(), blocks.data[i].end(), sector.begin() + SectorHeaderSize);
        Status status = image_.writeSector(allocation.sectors[i], sirBefore.maxSector, sector);
        if (!status.ok())
            return {status.code(), status.text() + stopped};
    }
    const SectorLink start = allocation.sectors.front();
    const SectorLink end = allocation.sectors.back();
    if (hasZeroByte(end))
        return {ErrorCode::InvalidLink, endLinkMessage(end)};
    Status status = image_.writeLink(end, sirBefore.maxSector, SectorLink{});
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
    const LocalDate today = currentLocalDate();
    entry.month = static_cast<std::uint8_t>(today.month);
    entry.day = static_cast<std::uint8_t>(today.day);
    entry.year = yearByte(today.year);
    status = image_.writeEntry(slotOffset, entry);
    if (status.ok())
        status = image_.flush();
    if (!status.ok())
        return {status.code(), status.text() + stopped};
    return {};
}

} // namespace

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

ImportResult importFile(DiskImage& image, const std::string& hostPath, const ImportOptions& options,
                        ImportQuestions& questions, const std::string& flexNameOverride) {
    return Importer(image, hostPath, options, questions).run(flexNameOverride);
}

bool confirmCompactionWarning(const ImportOptions& options, bool& warned,
                              ImportQuestions& questions) {
    if (!(options.compactBinary || options.compressSpaces) || warned)
        return true;
    warned = true;
    return questions.askYesNo(CompactionWarning);
}

} // namespace dw
