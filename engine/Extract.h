#pragma once

// Copying one FLEX file's sector chain out to the host: the export copy and the view copy
// (the copy opened in the external editor), in binary or text mode.

#include "engine/DiskImage.h"
#include "engine/RowFields.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace dw {

inline constexpr const char* UnexpectedEndOfChainText = "Unexpected End Of Chain";
inline constexpr const char* UnableToOpenTargetText = "Unable to open target file";
inline constexpr const char* UnableToOpenTempTargetText =
    "Unable to open target file. Try creating a TEMP directory on your C: drive";

enum class TransferMode { Text, Binary };
enum class CopyVariant { Export, View };
// What a carriage return becomes in text mode: CR LF, CR alone, or LF alone (for Unix tools,
// which also get no NUL padding at the end of the file).
enum class Newline { CrLf, Cr, Lf };

struct ExtractOptions {
    Newline newline = Newline::CrLf;
    bool expandTabs = true;
    CopyVariant variant = CopyVariant::Export;
    std::optional<TransferMode> forceMode;
};

struct ExtractResult {
    Status status;
    TransferMode mode = TransferMode::Binary;
    bool chainEndedEarly = false;
};

// The mode a copy uses: binary for a random file, else decided by the first data byte (the
// view variant takes 0x80 and up as binary). A file whose first sector cannot be read
// (0/0, outside the image) counts as binary.
Status chooseTransferMode(DiskImage& image, SectorLink startLink, bool randomFlag,
                          CopyVariant variant, TransferMode& mode);

// Copies one file's chain into an already opened host stream. Reads the SIR afresh for
// maxSector. A chain that reaches 0/0, leaves the image or returns to a sector already copied
// before `sectorCount` sectors ends early: the status stays ok and chainEndedEarly is set
// (what was copied stays). A failed read of the image is an error, and so is a failed write of
// the stream: WriteFailed, whose text cannot name the stream (exportFile's does).
ExtractResult ExtractFile(DiskImage& image, SectorLink startLink, std::uint16_t sectorCount,
                          bool randomFlag, const ExtractOptions& options, std::ostream& out);

// Export of one file to a host path through writeHostFile (engine/HostFile.h): the destination
// is replaced only when `replaceExisting`, an existing file otherwise gives Exists and stays,
// and failures name the host file.
ExtractResult exportFile(DiskImage& image, const EntryFields& file,
                         const std::filesystem::path& destination, bool replaceExisting,
                         const ExtractOptions& options);

// What a program file can be exported as: S-records, Intel HEX (engine/HexRecords.h), or the
// memory it fills from its lowest loaded address to its highest (gaps as zeros).
enum class ProgramFormat { SRecords, IntelHex, MemoryBytes };

// The file read as FLEX's loader reads it (readFlexBinary), written in `format` to `out`; the
// S0 header holds the FLEX name. A file that loads nothing, or whose last record is cut short,
// is refused (BadRecord) before anything is written. `warnings` gets the overlap warning.
ExtractResult exportProgram(DiskImage& image, const EntryFields& file, ProgramFormat format,
                            std::ostream& out, std::vector<std::string>& warnings);
// The same to a host path, written as exportFile writes.
ExtractResult exportProgram(DiskImage& image, const EntryFields& file, ProgramFormat format,
                            const std::filesystem::path& destination, bool replaceExisting,
                            std::vector<std::string>& warnings);

// The view copy: the file under its safe FLEX name in the temporary folder (see
// temporaryFolder), replacing an older copy (or a symbolic link of that name; a pipe or device
// there is refused). `path` receives where it went.
ExtractResult viewCopy(DiskImage& image, const EntryFields& file, const std::string& tempDirSetting,
                       bool addLineFeeds, bool expandTabs, std::filesystem::path& path);

} // namespace dw
