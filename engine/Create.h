#pragma once

// Blank diskette images in the FLEX layout (the one every other operation reads) and in the
// OS9 layout. The writer streams every sector in file order and never reads or seeks.

#include "engine/Format.h"
#include "engine/Status.h"

#include <cstdint>
#include <iosfwd>
#include <string>

namespace dw {

enum class DiskFormat { Flex, Os9 };
enum class Processor { M6800, M6809 };

// The choices one image is made from. The defaults are the format dialog's first-use choices.
struct FormatParameters {
    DiskFormat format = DiskFormat::Flex;
    std::int32_t tracks = 80;
    std::int32_t sectorsPerSide = 18;
    bool doubleSided = true;
    bool singleDensity = false; // only the OS9 format byte uses it
    bool includeBootSector = true;
    Processor processor = Processor::M6809;
    std::string volumeName; // at most 32 characters are used
    // FLEX only: sectors of track 0 when it has fewer than the other tracks (often single
    // density on a double-density disk), from 5 to sectorsPerTrack; 0 = as many as the others.
    std::int32_t trackZeroSectors = 0;
};

constexpr std::int32_t MaxTracks = 256;
constexpr std::size_t MaxVolumeNameLength = 32;

// Sectors per side of the density presets.
constexpr std::int32_t SingleDensitySectors = 10;
constexpr std::int32_t DoubleDensitySectors = 18;
constexpr std::int32_t QuadDensitySectors = 36;

// Sectors per side, doubled for a double-sided diskette (side 1 continues the numbering).
std::int64_t sectorsPerTrack(const FormatParameters& p);
// The name as it is used: cut to 32 characters, and a-z made A-Z for FLEX.
std::string effectiveVolumeName(const FormatParameters& p);
// The sector count an OS9 image records (track 0 side 0 counts 10 sectors).
std::int64_t os9TotalSectors(const FormatParameters& p);
// The smallest of 1, 2, 4, 8, 16 whose bitmap fits two sectors; 0 when none does.
int os9ClusterSize(std::int64_t totalSectors);
// Sectors of track 0: trackZeroSectors when given (FLEX), else sectorsPerTrack.
std::int64_t trackZeroSectors(const FormatParameters& p);
// Sectors the image file holds: track 0 and tracks x sectorsPerTrack for FLEX, totalSectors
// for OS9.
std::int64_t imageSectorCount(const FormatParameters& p);

// Tracks first, then sectors, then the smallest usable geometry and track 0. BadGeometry with the
// text to show; nothing is written by anyone before this passes.
Status checkFormatLimits(const FormatParameters& p);

// Reports the progress of a long write and lets the user cancel it between tracks.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void SetStep(int step) = 0;
    virtual void SetRange(int low, int high) = 0;
    virtual int StepIt() = 0;      // returns the position before the step
    virtual bool PollCancel() = 0; // true once per Cancel
};

// For callers that show no progress and never cancel.
class NullProgress : public ProgressSink {
public:
    void SetStep(int) override {}
    void SetRange(int, int) override {}
    int StepIt() override { return position_++; }
    bool PollCancel() override { return false; }

private:
    int position_ = 0;
};

enum class CreateOutcome { Completed, Cancelled, Failed };

struct CreateResult {
    CreateOutcome outcome = CreateOutcome::Completed;
    Status status; // Cancelled or the failure; ok when completed
};

// Writes the whole image to `out`, one 256-byte write per sector, strictly in file order.
// Parameters that fail checkFormatLimits are refused before anything is written. Stops at
// the first failed write.
CreateResult CreateBlankImage(const FormatParameters& p, std::ostream& out, const LocalDate& when,
                              ProgressSink& progress);

// Creates the image file at `path` through writeHostFile (engine/HostFile.h): a failed,
// cancelled or interrupted run leaves no partial file and leaves an existing file as it was. An
// existing file (or a symbolic link, which is replaced, never written through) is replaced only
// when `overwrite` is set; a device or folder never is. A rollback journal left beside the path
// by a change to the image that was there is set aside (see setJournalAside), never applied to
// the new image; `notice` then gets what the user should hear.
Status createImageFile(const std::string& path, const FormatParameters& p, const LocalDate& when,
                       ProgressSink& progress, bool overwrite, std::string* notice = nullptr);

} // namespace dw
