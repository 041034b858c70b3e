#include "engine/Extract.h"
#include "engine/Chain.h"
#include "engine/HexRecords.h"
#include "engine/HostFile.h"
#include "engine/HostNames.h"

#include <array>
#include <sstream>
#include <vector>

namespace dw {

namespace {

constexpr std::uint8_t SpaceMarker = 0x09;
constexpr std::uint8_t CarriageReturn = 0x0D;
constexpr std::uint8_t LineFeed = 0x0A;

bool selectsText(std::uint8_t first, CopyVariant variant) {
    if (first == SpaceMarker || first == CarriageReturn)
        return true;
    if (variant == CopyVariant::View)
        return first >= 0x20 && first <= 0x7F;
    return first >= 0x20;
}

// The text rules, byte by byte. The pending-count flag lives across sectors, so a marker in
// the last data byte of a sector takes its count from the next one. With line feeds alone, NUL
// data bytes are held back until something follows them, so those at the end never go out.
class TextConverter {
public:
    explicit TextConverter(const ExtractOptions& options) : options_(options) {
        for (int b = 0; b < 256; ++b)
            special_[b] = b == SpaceMarker || b == CarriageReturn ||
                          (b == 0 && (options_.variant == CopyVariant::View ||
                                      options_.newline == Newline::Lf));
    }

    // The data bytes of one sector: runs of bytes that no rule touches are copied whole.
    void putAll(const std::uint8_t* data, std::size_t size, std::string& out) {
        std::size_t i = 0;
        while (i < size) {
            std::size_t run = i;
            if (!pending_)
                while (run < size && !special(data[run]))
                    ++run;
            write(out, reinterpret_cast<const char*>(data + i), run - i);
            if (run < size)
                put(data[run++], out);
            i = run;
        }
    }

    void put(std::uint8_t b, std::string& out) {
        if (options_.expandTabs) {
            if (pending_) {
                pending_ = false;
                write(out, spaceCount(b), ' ');
            } else if (b == SpaceMarker) {
                pending_ = true;
            } else {
                plain(b, out);
            }
            return;
        }
        if (b == SpaceMarker) {
            write(out, 1, static_cast<char>(b));
            pending_ = true;
        } else if (pending_) {
            // The count goes out unchanged: a count of 13 gets no line feed, a count of 0 stays.
            write(out, 1, static_cast<char>(b));
            pending_ = false;
        } else {
            plain(b, out);
        }
    }

private:
    bool special(std::uint8_t b) const { return special_[b]; }

    std::size_t spaceCount(std::uint8_t count) const {
        if (options_.variant == CopyVariant::View)
            return count <= 0x7F ? count : 0; // read as signed: negative counts give nothing
        return count;
    }

    void plain(std::uint8_t b, std::string& out) {
        if (b == 0 && options_.variant == CopyVariant::View)
            return;
        if (b == 0 && options_.newline == Newline::Lf) {
            ++heldNuls_;
        } else if (b != CarriageReturn) {
            write(out, 1, static_cast<char>(b));
        } else if (options_.newline == Newline::Lf) {
            write(out, 1, static_cast<char>(LineFeed));
        } else {
            write(out, 1, static_cast<char>(b));
            if (options_.newline == Newline::CrLf)
                out += static_cast<char>(LineFeed);
        }
    }

    void write(std::string& out, const char* bytes, std::size_t n) {
        if (n > 0) {
            releaseNuls(out);
            out.append(bytes, n);
        }
    }
    void write(std::string& out, std::size_t n, char c) {
        if (n > 0) {
            releaseNuls(out);
            out.append(n, c);
        }
    }
    void releaseNuls(std::string& out) {
        out.append(heldNuls_, '\0');
        heldNuls_ = 0;
    }

    const ExtractOptions& options_;
    std::array<bool, 256> special_{}; // bytes some rule touches, by value
    bool pending_ = false;
    std::size_t heldNuls_ = 0;
};

} // namespace

Status chooseTransferMode(DiskImage& image, SectorLink startLink, bool randomFlag,
                          CopyVariant variant, TransferMode& mode) {
    mode = TransferMode::Binary;
    if (randomFlag)
        return {};
    SystemInformationRecord sir;
    Status status = image.readSir(sir);
    if (!status.ok())
        return status;
    if (!image.contains(startLink))
        return {};
    std::uint8_t first[1] = {0};
    status = image.readAt(image.SectorOffset(startLink) + SectorHeaderSize, first);
    if (!status.ok())
        return status;
    if (selectsText(first[0], variant))
        mode = TransferMode::Text;
    return {};
}

ExtractResult ExtractFile(DiskImage& image, SectorLink startLink, std::uint16_t sectorCount,
                          bool randomFlag, const ExtractOptions& options, std::ostream& out) {
    ExtractResult result;
    const ImageRead hold(image);
    if (!hold.status().ok()) {
        result.status = hold.status();
        return result;
    }
    SystemInformationRecord sir;
    result.status = image.readSir(sir);
    if (!result.status.ok())
        return result;
    if (options.forceMode) {
        result.mode = *options.forceMode;
    } else {
        result.status =
            chooseTransferMode(image, startLink, randomFlag, options.variant, result.mode);
        if (!result.status.ok())
            return result;
    }

    TextConverter text(options);
    std::vector<bool> copied(std::size_t{256} * 256, false);
    std::string buffer;
    SectorLink current = startLink;
    for (std::uint32_t n = 0; n < sectorCount; ++n) {
        // Never read through 0/0, outside the image, or around a loop.
        if (current.isNull() || !image.contains(current) || copied[linkIndex(current)]) {
            result.chainEndedEarly = true;
            break;
        }
        copied[linkIndex(current)] = true;
        Sector sector{};
        result.status = image.readSector(current, sector);
        if (!result.status.ok())
            return result;
        current = getLink(sector.data());

        if (result.mode == TransferMode::Binary) {
            out.write(reinterpret_cast<const char*>(sector.data() + SectorHeaderSize),
                      SectorDataSize);
        } else {
            buffer.clear();
            text.putAll(sector.data() + SectorHeaderSize, SectorDataSize, buffer);
            out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        }
        if (!out) {
            result.status = {ErrorCode::WriteFailed, "Unable to write the target file"};
            return result;
        }
    }
    out.flush();
    if (!out)
        result.status = {ErrorCode::WriteFailed, "Unable to write the target file"};
    return result;
}

ExtractResult exportFile(DiskImage& image, const EntryFields& file,
                         const std::filesystem::path& destination, bool replaceExisting,
                         const ExtractOptions& options) {
    ExtractResult result;
    Status written = writeHostFile(destination, replaceExisting, [&](std::ostream& out) {
        result =
            ExtractFile(image, file.startLink, file.sectorCount, file.randomFlag, options, out);
        return result.status;
    });
    result.status = written;
    return result;
}

ExtractResult exportProgram(DiskImage& image, const EntryFields& file, ProgramFormat format,
                            std::ostream& out, std::vector<std::string>& warnings) {
    ExtractOptions binary;
    binary.forceMode = TransferMode::Binary;
    std::ostringstream copy;
    ExtractResult result =
        ExtractFile(image, file.startLink, file.sectorCount, file.randomFlag, binary, copy);
    if (!result.status.ok())
        return result;
    const std::string bytes = copy.str();
    MemoryImage memory;
    result.status =
        readFlexBinary({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, memory);
    if (result.status.ok() && memory.empty())
        result.status = {ErrorCode::BadRecord, "it loads nothing (it holds no load record)"};
    if (!result.status.ok())
        return result;
    if (std::string overlap = memory.overlapWarning(); !overlap.empty())
        warnings.push_back(overlap);
    std::string text;
    if (format == ProgramFormat::SRecords) {
        text = writeSRecords(memory, file.name + "." + file.ext);
    } else if (format == ProgramFormat::IntelHex) {
        text = writeIntelHex(memory);
    } else {
        const std::vector<std::uint8_t> memoryCopy = memoryBytes(memory);
        text.assign(memoryCopy.begin(), memoryCopy.end());
    }
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out)
        result.status = {ErrorCode::WriteFailed, "Unable to write the target file"};
    return result;
}

ExtractResult exportProgram(DiskImage& image, const EntryFields& file, ProgramFormat format,
                            const std::filesystem::path& destination, bool replaceExisting,
                            std::vector<std::string>& warnings) {
    ExtractResult result;
    Status written = writeHostFile(destination, replaceExisting, [&](std::ostream& out) {
        result = exportProgram(image, file, format, out, warnings);
        return result.status;
    });
    result.status = written;
    return result;
}

ExtractResult viewCopy(DiskImage& image, const EntryFields& file, const std::string& tempDirSetting,
                       bool addLineFeeds, bool expandTabs, std::filesystem::path& path) {
    path = temporaryFolder(tempDirSetting) / hostFileName(file.name, file.ext);
    // The editor opens a file: a pipe or device that someone else put there under that name is
    // never written to (a pipe with no reader would hang the window).
    std::error_code ec;
    const std::filesystem::file_status there = std::filesystem::symlink_status(path, ec);
    if (std::filesystem::exists(there) && !std::filesystem::is_regular_file(there) &&
        !std::filesystem::is_symlink(there)) {
        ExtractResult refused;
        refused.status = {ErrorCode::OpenFailed, UnableToOpenTempTargetText};
        return refused;
    }
    ExtractOptions options;
    options.newline = addLineFeeds ? Newline::CrLf : Newline::Cr;
    options.expandTabs = expandTabs;
    options.variant = CopyVariant::View;
    ExtractResult result = exportFile(image, file, path, true, options);
    if (result.status.code() == ErrorCode::OpenFailed)
        result.status = {ErrorCode::OpenFailed, UnableToOpenTempTargetText};
    return result;
}

} // namespace dw
