#include "engine/FilePack.h"
#include "engine/WriteFile.h"

#include <algorithm>
#include <sstream>

namespace dw {

namespace {

constexpr char Magic[4] = {'D', 'W', 'F', 'X'};
constexpr std::size_t BlockHeaderSize = 9;
constexpr std::size_t NameSize = 8;
constexpr std::size_t ExtSize = 3;
constexpr std::size_t FileHeaderSize = NameSize + ExtSize + 1 + 2 + 1 + 1 + 2;
constexpr std::uint8_t RandomBit = 0x01;

void putField(std::vector<std::uint8_t>& out, const std::string& text, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        out.push_back(i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0);
}

void put16(std::vector<std::uint8_t>& out, std::size_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8 & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

int get16(const std::uint8_t* p) {
    return p[0] << 8 | p[1];
}

std::size_t get32(const std::uint8_t* p) {
    return std::size_t{p[0]} << 24 | std::size_t{p[1]} << 16 | std::size_t{p[2]} << 8 | p[3];
}

// A NUL-padded field: its bytes up to the first NUL, with nothing but NULs after it.
bool getField(const std::uint8_t* p, std::size_t size, std::string& out) {
    const std::uint8_t* end = std::find(p, p + size, std::uint8_t{0});
    if (std::any_of(end, p + size, [](std::uint8_t b) { return b != 0; }))
        return false;
    out.assign(p, end);
    return true;
}

Status damaged(const std::string& what) {
    return {ErrorCode::ReadFailed, "the dragged files' data " + what};
}

} // namespace

std::vector<std::uint8_t> packFiles(std::span<const PackedFile> files) {
    std::vector<std::uint8_t> out(Magic, Magic + sizeof Magic);
    out.push_back(FilePackVersion);
    put16(out, files.size() >> 16);
    put16(out, files.size() & 0xFFFF);
    for (const PackedFile& file : files) {
        putField(out, file.name, NameSize);
        putField(out, file.ext, ExtSize);
        out.push_back(file.random ? RandomBit : 0);
        put16(out, static_cast<std::size_t>(file.year));
        out.push_back(static_cast<std::uint8_t>(file.month));
        out.push_back(static_cast<std::uint8_t>(file.day));
        const std::size_t sectors =
            std::min<std::size_t>(file.data.size() / SectorDataSize, 0xFFFF);
        put16(out, sectors);
        out.insert(out.end(), file.data.begin(),
                   file.data.begin() + static_cast<std::ptrdiff_t>(sectors * SectorDataSize));
    }
    return out;
}

Status unpackFiles(std::span<const std::uint8_t> block, std::vector<PackedFile>& out) {
    out.clear();
    if (block.size() < BlockHeaderSize || !std::equal(Magic, Magic + sizeof Magic, block.begin()))
        return damaged("is not Diskwright's");
    if (block[4] != FilePackVersion)
        return damaged("is of another version of Diskwright (format " + std::to_string(block[4]) +
                       ")");
    const std::size_t count = get32(&block[5]);
    std::vector<PackedFile> files;
    std::size_t at = BlockHeaderSize;
    for (std::size_t n = 1; n <= count; ++n) {
        const std::string which = "file " + std::to_string(n);
        if (block.size() - at < FileHeaderSize)
            return damaged("ends inside " + which);
        const std::uint8_t* p = &block[at];
        PackedFile file;
        if (!getField(p, NameSize, file.name) || file.name.empty() ||
            !getField(p + NameSize, ExtSize, file.ext) || (p[11] & ~RandomBit) != 0)
            return damaged("has a damaged entry for " + which);
        file.random = (p[11] & RandomBit) != 0;
        file.year = get16(p + 12);
        file.month = p[14];
        file.day = p[15];
        const std::size_t size = static_cast<std::size_t>(get16(p + 16)) * SectorDataSize;
        at += FileHeaderSize;
        if (block.size() - at < size)
            return damaged("ends inside " + which);
        file.data.assign(block.begin() + static_cast<std::ptrdiff_t>(at),
                         block.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
        files.push_back(std::move(file));
    }
    if (at != block.size())
        return damaged("goes on after its last file");
    out = std::move(files);
    return {};
}

ExtractResult readPackedFile(DiskImage& image, const EntryFields& file, const std::string& dateText,
                             PackedFile& out) {
    out = {};
    out.name = file.name;
    out.ext = file.ext;
    out.random = file.randomFlag;
    // "YYYY-MM-DD": each part's leading digits, as the other row fields are read.
    const std::size_t first = dateText.find('-');
    const std::size_t second =
        first == std::string::npos ? std::string::npos : dateText.find('-', first + 1);
    out.year = static_cast<int>(std::min(leadingNumber(dateText.substr(0, first)), 65535UL));
    if (first != std::string::npos)
        out.month = static_cast<int>(leadingNumber(dateText.substr(first + 1)) & 0xFF);
    if (second != std::string::npos)
        out.day = static_cast<int>(leadingNumber(dateText.substr(second + 1)) & 0xFF);

    ExtractOptions options;
    options.forceMode = TransferMode::Binary;
    std::ostringstream bytes;
    ExtractResult result =
        ExtractFile(image, file.startLink, file.sectorCount, file.randomFlag, options, bytes);
    const std::string data = std::move(bytes).str();
    out.data.assign(data.begin(), data.end());
    return result;
}

void writePackedFiles(DiskImage& image, std::span<const PackedFile> files,
                      ImportQuestions& questions) {
    FileWriter writer(image);
    for (const PackedFile& file : files) {
        // FLEX marks a random file with 2; the row that was dragged said only whether it is one.
        WholeFlexFile whole{{file.name, file.ext},
                            {file.year, file.month, file.day},
                            static_cast<std::uint8_t>(file.random ? 2 : 0),
                            file.data};
        WriteFileResult result = writer.write(whole, false);
        if (result.status.code() == ErrorCode::Exists) {
            if (!questions.askReplace(ReplaceQuestion))
                continue;
            result = writer.write(std::move(whole), true);
        }
        if (!result.status.ok())
            questions.tellFailure(result.status);
    }
}

} // namespace dw
