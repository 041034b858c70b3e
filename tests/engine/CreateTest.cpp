#include "engine/Create.h"
#include "engine/BootSectors.h"
#include "engine/Check.h"
#include "engine/Directory.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

using namespace dwtest;

namespace {

const dw::LocalDate When{2026, 3, 17, 14, 5};

// Records every call, and answers Cancel at the poll before the given track.
class RecordingProgress : public dw::ProgressSink {
public:
    explicit RecordingProgress(int cancelBeforeTrack = -1) : cancelAt_(cancelBeforeTrack) {}
    void SetStep(int step) override { calls.push_back("step " + std::to_string(step)); }
    void SetRange(int low, int high) override {
        calls.push_back("range " + std::to_string(low) + " " + std::to_string(high));
    }
    int StepIt() override {
        if (steps == 0)
            calls.push_back("first StepIt");
        return steps++;
    }
    bool PollCancel() override {
        ++polls;
        return polls == cancelAt_; // poll n comes before track n
    }
    std::vector<std::string> calls;
    int steps = 0;
    int polls = 0;

private:
    int cancelAt_;
};

std::vector<std::uint8_t> create(const dw::FormatParameters& p,
                                 dw::CreateResult* result = nullptr) {
    std::ostringstream out;
    RecordingProgress progress;
    dw::CreateResult r = dw::CreateBlankImage(p, out, When, progress);
    EXPECT_EQ(r.outcome, dw::CreateOutcome::Completed) << r.status.text();
    if (result)
        *result = r;
    const std::string text = out.str();
    return {text.begin(), text.end()};
}

dw::FormatParameters flex(int tracks, int sectorsPerSide, bool doubleSided,
                          const std::string& name = "") {
    dw::FormatParameters p;
    p.tracks = tracks;
    p.sectorsPerSide = sectorsPerSide;
    p.doubleSided = doubleSided;
    p.includeBootSector = false;
    p.volumeName = name;
    return p;
}

const std::uint8_t* at(const std::vector<std::uint8_t>& image, int spt, int track, int sector) {
    return &image[static_cast<std::size_t>(track * spt + sector - 1) * 256];
}

std::vector<std::uint8_t> bytes(const std::uint8_t* p, std::size_t n) {
    return {p, p + n};
}

bool allZero(const std::uint8_t* p, std::size_t n) {
    return std::all_of(p, p + n, [](std::uint8_t v) { return v == 0; });
}

// Only the link bytes of sector n of a chain may be set.
void expectLinkOnly(const std::vector<std::uint8_t>& image, int spt, int track, int sector,
                    std::vector<std::uint8_t> link) {
    const std::uint8_t* s = at(image, spt, track, sector);
    EXPECT_EQ(bytes(s, 2), link) << track << "/" << sector;
    EXPECT_TRUE(allZero(s + 2, 254)) << track << "/" << sector;
}

std::string message(const dw::FormatParameters& p) {
    return dw::checkFormatLimits(p).text();
}

} // namespace

TEST(CreateFlex, SingleDensityThirtyFiveTracksByteForByte) {
    const std::vector<std::uint8_t> image = create(flex(35, 10, false, "system"));
    ASSERT_EQ(image.size(), 89600u);
    EXPECT_TRUE(allZero(at(image, 10, 0, 1), 256)); // no boot sector
    expectLinkOnly(image, 10, 0, 2, {0, 3});
    const std::uint8_t* sir = at(image, 10, 0, 3);
    EXPECT_EQ(bytes(sir, 2), (std::vector<std::uint8_t>{0, 0}));
    EXPECT_TRUE(allZero(sir + 2, 14));
    EXPECT_EQ(bytes(sir + 16, 24), (std::vector<std::uint8_t>{
                                       'S', 'Y', 'S',  'T',  'E',  'M',  0, 0,  0,  0,    0,   0, 0,
                                       1,   1,   0x22, 0x0A, 0x01, 0x54, 3, 17, 26, 0x22, 0x0A}));
    EXPECT_TRUE(allZero(sir + 40, 216));
    for (int n = 4; n < 10; ++n)
        expectLinkOnly(image, 10, 0, n, {0, static_cast<std::uint8_t>(n + 1)});
    EXPECT_TRUE(allZero(at(image, 10, 0, 10), 256));
    expectLinkOnly(image, 10, 1, 10, {2, 1});
    expectLinkOnly(image, 10, 34, 9, {34, 10});
    EXPECT_TRUE(allZero(at(image, 10, 34, 10), 256));

    // The engine reads it as an empty volume: 60 empty slots, no files.
    const std::string path = tempPath("sd35.dsk");
    writeFileBytes(path, image);
    std::unique_ptr<dw::DiskImage> disk;
    ASSERT_TRUE(dw::DiskImage::open(path, disk).ok());
    dw::Listing listing;
    ASSERT_TRUE(dw::readListing(*disk, listing).ok());
    EXPECT_TRUE(listing.entries.empty());
    EXPECT_EQ(listing.sir.label(), "SYSTEM");
    int slots = 0;
    ASSERT_TRUE(dw::walkDirectory(*disk, [&](const dw::DirectorySlot&) {
                    ++slots;
                    return dw::SlotAction::SkipSector;
                }).ok());
    EXPECT_EQ(slots, 1); // the first slot already ends the directory
    EXPECT_TRUE(dw::checkImage(*disk).clean());
}

TEST(CreateFlex, DialogDefaultGeometryAndBootSector) {
    dw::FormatParameters p; // 80 tracks, double density, double-sided, 6809 boot sector
    p.volumeName = "work disk 2025";
    EXPECT_EQ(dw::effectiveVolumeName(p), "WORK DISK 2025");
    const std::vector<std::uint8_t> image = create(p);
    ASSERT_EQ(image.size(), 737280u);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 256, dw::Boot6809Sector.begin()));
    const std::uint8_t* sir = at(image, 36, 0, 3) + 16;
    EXPECT_EQ(std::string(sir, sir + 11), "WORK DISK 2");
    EXPECT_EQ(bytes(sir + 11, 13), (std::vector<std::uint8_t>{0, 0, 1, 1, 0x4F, 0x24, 0x0B, 0x1C, 3,
                                                              17, 26, 0x4F, 0x24}));
    int directorySectors = 0;
    for (int n = 5; n <= 36; ++n, ++directorySectors)
        EXPECT_TRUE(allZero(at(image, 36, 0, n) + 2, 254));
    EXPECT_EQ(directorySectors, 32);
    expectLinkOnly(image, 36, 1, 36, {0x02, 0x01});
    expectLinkOnly(image, 36, 79, 35, {0x4F, 0x24});
    EXPECT_TRUE(allZero(at(image, 36, 79, 36), 256));

    p.processor = dw::Processor::M6800;
    const std::vector<std::uint8_t> m6800 = create(p);
    EXPECT_TRUE(std::equal(m6800.begin(), m6800.begin() + 256, dw::Boot6800Sector.begin()));
}

TEST(CreateFlex, LongestLabelAndLargestGeometry) {
    dw::FormatParameters p = flex(256, 10, false, "abcdefghijklmnopqrstuvwxyz0123456789");
    EXPECT_TRUE(dw::checkFormatLimits(p).ok());
    EXPECT_EQ(dw::effectiveVolumeName(p), "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"); // 32 characters
    const std::vector<std::uint8_t> image = create(p);
    ASSERT_EQ(image.size(), 256u * 10 * 256);
    const std::uint8_t* sir = at(image, 10, 0, 3) + 16;
    EXPECT_EQ(std::string(sir, sir + 11), "ABCDEFGHIJK");
    EXPECT_EQ(sir[11], 0); // the volume number follows the 11 label bytes directly
    EXPECT_EQ(bytes(sir + 15, 4), (std::vector<std::uint8_t>{255, 10, 0x09, 0xF6})); // 2550
    EXPECT_EQ(sir[22], 255);
    expectLinkOnly(image, 10, 254, 10, {255, 1});
    expectLinkOnly(image, 10, 255, 9, {255, 10});
    EXPECT_TRUE(allZero(at(image, 10, 255, 10), 256));

    p.sectorsPerSide = 255; // the largest FLEX image: 16.7 MB
    std::vector<std::uint8_t> largest = create(p);
    EXPECT_EQ(largest.size(), 256u * 255 * 256);
    EXPECT_EQ(bytes(at(largest, 255, 0, 3) + 16 + 15, 4),
              (std::vector<std::uint8_t>{255, 255, 0xFE, 0x01})); // 255 x 255 = 65025 free
}

TEST(CreateLimits, MessagesTracksFirstThenSectors) {
    EXPECT_EQ(message(flex(257, 10, false)), "Maximum Tracks Per Diskette is 256");
    EXPECT_EQ(message(flex(-1, 10, false)), "Maximum Tracks Per Diskette is 256");
    EXPECT_EQ(message(flex(300, 300, true)), "Maximum Tracks Per Diskette is 256");
    EXPECT_TRUE(dw::checkFormatLimits(flex(256, 255, false)).ok());

    EXPECT_EQ(message(flex(80, 128, true)), "Maximum Sectors for Double Sided Diskette is 127");
    EXPECT_TRUE(dw::checkFormatLimits(flex(80, 127, true)).ok());
    EXPECT_EQ(message(flex(80, 256, false)), "Maximum Sectors for Single Sided Diskette is 255");
    EXPECT_EQ(message(flex(80, -3, false)), "Maximum Sectors for Single Sided Diskette is 255");

    dw::FormatParameters os9 = flex(80, 256, false);
    os9.format = dw::DiskFormat::Os9;
    EXPECT_TRUE(dw::checkFormatLimits(os9).ok());
    os9.sectorsPerSide = 257;
    EXPECT_EQ(message(os9), "Maximum Sectors for Single Sided Diskette is 256");
    os9.doubleSided = true;
    os9.sectorsPerSide = 129;
    EXPECT_EQ(message(os9), "Maximum Sectors for Double Sided Diskette is 128");
    os9.sectorsPerSide = 128;
    EXPECT_TRUE(dw::checkFormatLimits(os9).ok());
    // Huge values do not overflow into acceptance.
    EXPECT_FALSE(dw::checkFormatLimits(flex(80, 2'000'000'000, true)).ok());
}

TEST(CreateLimits, GeometriesTooSmallForTheLayoutAreRefused) {
    const std::string tooSmall =
        "A diskette needs at least 2 tracks of 5 sectors; no image was made.";
    EXPECT_EQ(message(flex(1, 18, false)), tooSmall);
    EXPECT_EQ(message(flex(0, 18, false)), tooSmall);
    EXPECT_EQ(message(flex(35, 4, false)), tooSmall);
    EXPECT_EQ(message(flex(35, 0, true)), tooSmall);
    EXPECT_TRUE(dw::checkFormatLimits(flex(2, 5, false)).ok());
    EXPECT_TRUE(dw::checkFormatLimits(flex(2, 3, true)).ok()); // 6 sectors per track
    dw::FormatParameters os9 = flex(1, 18, true);
    os9.format = dw::DiskFormat::Os9;
    EXPECT_EQ(message(os9), tooSmall);

    // The writer refuses them too, before writing anything.
    std::ostringstream out;
    dw::NullProgress progress;
    const dw::CreateResult refused = dw::CreateBlankImage(flex(1, 18, false), out, When, progress);
    EXPECT_EQ(refused.outcome, dw::CreateOutcome::Failed);
    EXPECT_EQ(refused.status.text(), tooSmall);
    EXPECT_TRUE(out.str().empty());

    // The smallest accepted image is sound: one directory sector, one free track.
    const std::vector<std::uint8_t> image = create(flex(2, 5, false));
    ASSERT_EQ(image.size(), 10u * 256);
    EXPECT_TRUE(allZero(at(image, 5, 0, 5), 256));
    EXPECT_EQ(bytes(at(image, 5, 0, 3) + 16 + 13, 6),
              (std::vector<std::uint8_t>{1, 1, 1, 5, 0, 5}));
}

TEST(CreateOs9, DialogDefaultGeometry) {
    dw::FormatParameters p;
    p.format = dw::DiskFormat::Os9;
    p.volumeName = "Work";
    EXPECT_EQ(dw::effectiveVolumeName(p), "Work"); // not upper-cased
    EXPECT_EQ(dw::os9TotalSectors(p), 2872);
    const std::vector<std::uint8_t> image = create(p);
    ASSERT_EQ(image.size(), 2872u * 256); // the file holds exactly the sectors it records
    const std::uint8_t* lsn0 = &image[0];
    EXPECT_EQ(bytes(lsn0, 31),
              (std::vector<std::uint8_t>{0x00, 0x0B, 0x38, 18, 0x01, 0x68, 0,  1,  0, 0, 3,
                                         0,    0,    0xFF, 0,  0,    0x03, 0,  18, 0, 0, 0,
                                         0,    0,    0,    0,  126,  3,    17, 14, 5}));
    EXPECT_EQ(bytes(lsn0 + 31, 5), (std::vector<std::uint8_t>{'W', 'o', 'r', 'k' | 0x80, 0}));
    EXPECT_TRUE(allZero(lsn0 + 36, 220));
    EXPECT_EQ(bytes(&image[256], 3), (std::vector<std::uint8_t>{0xFF, 0xE0, 0}));
    EXPECT_TRUE(allZero(&image[258], 254 + 256)); // rest of LSN 1, all of LSN 2
    EXPECT_EQ(bytes(&image[768], 22),
              (std::vector<std::uint8_t>{0xBF, 0,  0,   126, 3,  17, 14, 5, 2, 0, 0,
                                         0,    64, 126, 3,   17, 0,  0,  4, 0, 7, 0}));
    const std::uint8_t* root = &image[1024];
    EXPECT_EQ(bytes(root, 2), (std::vector<std::uint8_t>{0x2E, 0xAE}));
    EXPECT_EQ(bytes(root + 29, 4), (std::vector<std::uint8_t>{0, 0, 3, 0xAE}));
    EXPECT_EQ(bytes(root + 61, 3), (std::vector<std::uint8_t>{0, 0, 3}));
    EXPECT_TRUE(allZero(&image[5 * 256], image.size() - 5 * 256));
}

TEST(CreateOs9, ClusterSizesAndBitmap) {
    dw::FormatParameters p;
    p.format = dw::DiskFormat::Os9;
    p.sectorsPerSide = 36; // quad density, double-sided, 80 tracks
    p.singleDensity = false;
    EXPECT_EQ(dw::os9TotalSectors(p), 5734);
    EXPECT_EQ(dw::os9ClusterSize(5734), 2);
    std::vector<std::uint8_t> image = create(p);
    ASSERT_EQ(image.size(), 5734u * 256);
    EXPECT_EQ(bytes(&image[3], 5), (std::vector<std::uint8_t>{36, 0x01, 0x67, 0, 2})); // 359
    EXPECT_EQ(bytes(&image[256], 2), (std::vector<std::uint8_t>{0xFF, 0x00}));
    EXPECT_EQ(image[768 + 20], 12);

    // Single density, single-sided: 10 per side, the total is simply tracks x sectors.
    p.sectorsPerSide = 10;
    p.doubleSided = false;
    p.singleDensity = true;
    p.tracks = 35;
    image = create(p);
    EXPECT_EQ(image.size(), 350u * 256);
    EXPECT_EQ(image[16], 0x00); // format byte: single density, single-sided

    // The largest OS9 geometry needs 16-sector clusters.
    p.tracks = 256;
    p.sectorsPerSide = 128;
    p.doubleSided = true;
    const std::int64_t total = dw::os9TotalSectors(p);
    EXPECT_EQ(total, 65418);
    EXPECT_EQ(dw::os9ClusterSize(total), 16);
    image = create(p);
    EXPECT_EQ(image.size(), static_cast<std::size_t>(total) * 256);
    EXPECT_EQ(bytes(&image[0], 8),
              (std::vector<std::uint8_t>{0x00, 0xFF, 0x8A, 128, 0x02, 0x00, 0, 16})); // 512
    EXPECT_EQ(bytes(&image[256], 2), (std::vector<std::uint8_t>{0x80, 0x00}));
    EXPECT_EQ(dw::os9ClusterSize(70000), 0);
}

TEST(CreateProgress, RangeStepsAndPollsInOrder) {
    for (dw::DiskFormat format : {dw::DiskFormat::Flex, dw::DiskFormat::Os9}) {
        dw::FormatParameters p = flex(40, 18, true);
        p.format = format;
        std::ostringstream out;
        RecordingProgress progress;
        ASSERT_EQ(dw::CreateBlankImage(p, out, When, progress).outcome,
                  dw::CreateOutcome::Completed);
        const int total = static_cast<int>(dw::imageSectorCount(p));
        EXPECT_EQ(progress.calls,
                  (std::vector<std::string>{"step 1", "range 0 " + std::to_string(total),
                                            "first StepIt"}));
        EXPECT_EQ(progress.steps, total);
        EXPECT_EQ(progress.polls, 39); // before each track from track 1 on
        EXPECT_EQ(out.str().size(), static_cast<std::size_t>(total) * 256);
    }
}

TEST(CreateProgress, CancelAtTrackTenStopsBeforeIt) {
    dw::FormatParameters p = flex(80, 18, true);
    std::ostringstream out;
    RecordingProgress progress(10);
    const dw::CreateResult result = dw::CreateBlankImage(p, out, When, progress);
    EXPECT_EQ(result.outcome, dw::CreateOutcome::Cancelled);
    EXPECT_EQ(result.status.code(), dw::ErrorCode::Cancelled);
    EXPECT_EQ(out.str().size(), 10u * 36 * 256); // tracks 0 to 9

    // Through the file: nothing is left, and a file of that name stays as it was.
    const std::string path = tempPath("cancel.dsk");
    RecordingProgress again(10);
    EXPECT_EQ(dw::createImageFile(path, p, When, again, false).code(), dw::ErrorCode::Cancelled);
    EXPECT_FALSE(std::filesystem::exists(path));
    writeFileBytes(path, {1, 2, 3});
    RecordingProgress third(10);
    EXPECT_EQ(dw::createImageFile(path, p, When, third, true).code(), dw::ErrorCode::Cancelled);
    EXPECT_EQ(readFileBytes(path), (std::vector<std::uint8_t>{1, 2, 3}));
    const auto folder = std::filesystem::path(path).parent_path();
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
}

namespace {
// A stream whose writes fail once `capacity` bytes have gone in, like a full disk.
class FullDisk : public std::streambuf {
public:
    explicit FullDisk(std::size_t capacity) : left_(capacity) {}

protected:
    std::streamsize xsputn(const char*, std::streamsize n) override {
        const auto taken = std::min<std::streamsize>(n, static_cast<std::streamsize>(left_));
        left_ -= static_cast<std::size_t>(taken);
        return taken;
    }
    int_type overflow(int_type c) override {
        if (left_ == 0)
            return traits_type::eof();
        --left_;
        return traits_type::not_eof(c);
    }

private:
    std::size_t left_;
};
} // namespace

TEST(CreateFailure, WriteErrorStopsAndIsReported) {
    for (dw::DiskFormat format : {dw::DiskFormat::Flex, dw::DiskFormat::Os9}) {
        dw::FormatParameters p = flex(80, 18, true);
        p.format = format;
        FullDisk full(5000);
        std::ostream out(&full);
        RecordingProgress progress;
        const dw::CreateResult result = dw::CreateBlankImage(p, out, When, progress);
        EXPECT_EQ(result.outcome, dw::CreateOutcome::Failed);
        EXPECT_EQ(result.status.code(), dw::ErrorCode::WriteFailed);
        EXPECT_EQ(progress.steps, 19); // no sector after the failed one
    }
    std::ofstream devFull("/dev/full", std::ios::binary);
    if (devFull) {
        dw::NullProgress progress;
        EXPECT_EQ(dw::CreateBlankImage(flex(80, 18, true), devFull, When, progress).outcome,
                  dw::CreateOutcome::Failed);
    }
}

TEST(CreateFile, ReplacesOnlyWhenAskedAndOnlyRegularFiles) {
    const dw::FormatParameters p = flex(35, 10, false, "new");
    const std::string path = tempPath("made.dsk");
    dw::NullProgress progress;
    ASSERT_TRUE(dw::createImageFile(path, p, When, progress, false).ok());
    EXPECT_EQ(readFileBytes(path).size(), 89600u);

    writeFileBytes(path, {9, 9});
    const dw::Status refused = dw::createImageFile(path, p, When, progress, false);
    EXPECT_EQ(refused.code(), dw::ErrorCode::Exists);
    EXPECT_EQ(refused.text(), path + " already exists; it was left unchanged.");
    EXPECT_EQ(readFileBytes(path), (std::vector<std::uint8_t>{9, 9}));
    ASSERT_TRUE(dw::createImageFile(path, p, When, progress, true).ok());
    EXPECT_EQ(readFileBytes(path).size(), 89600u);

    const std::string folder = tempFolder("a-folder").string();
    EXPECT_EQ(dw::createImageFile(folder, p, When, progress, true).code(), dw::ErrorCode::Exists);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(dw::createImageFile(folder + "/missing/x.dsk", p, When, progress, false).code(),
              dw::ErrorCode::OpenFailed);
}

// Every FLEX geometry reads back as an empty volume whose free chain runs through every
// sector of tracks 1 and up, in order, and ends where the SIR says; the check finds nothing.
TEST(CreateProperty, RandomFlexGeometriesAreConsistent) {
    std::mt19937 random(20261207);
    for (int round = 0; round < 24; ++round) {
        const bool doubleSided = random() % 2 == 0;
        const int tracks = 2 + static_cast<int>(random() % 255);
        const int perSide =
            (doubleSided ? 3 : 5) + static_cast<int>(random() % (doubleSided ? 125 : 251));
        dw::FormatParameters p = flex(tracks, perSide, doubleSided, "prop");
        p.includeBootSector = round % 3 != 0;
        ASSERT_TRUE(dw::checkFormatLimits(p).ok()) << tracks << " " << perSide;
        const std::string path = tempPath("prop.dsk");
        std::filesystem::remove(path);
        dw::NullProgress progress;
        ASSERT_TRUE(dw::createImageFile(path, p, When, progress, false).ok());

        std::unique_ptr<dw::DiskImage> disk;
        ASSERT_TRUE(dw::DiskImage::open(path, disk).ok());
        dw::Listing listing;
        ASSERT_TRUE(dw::readListing(*disk, listing).ok());
        EXPECT_TRUE(listing.entries.empty());
        const int spt = static_cast<int>(dw::sectorsPerTrack(p));
        const dw::SystemInformationRecord& sir = listing.sir;
        ASSERT_EQ(sir.maxSector, spt);
        ASSERT_EQ(disk->fileSize(), static_cast<std::uint64_t>(tracks) * spt * 256);
        dw::SectorLink link = sir.firstFree;
        int count = 0;
        dw::SectorLink last;
        while (!link.isNull() && count <= tracks * spt) {
            const dw::SectorLink expected{static_cast<std::uint8_t>(1 + count / spt),
                                          static_cast<std::uint8_t>(1 + count % spt)};
            ASSERT_EQ(link, expected);
            last = link;
            ASSERT_TRUE(disk->readLink(link, link).ok());
            ++count;
        }
        EXPECT_EQ(count, sir.freeSectorCount);
        EXPECT_EQ(count, (tracks - 1) * spt);
        EXPECT_EQ(last, sir.lastFree);
        const dw::CheckReport report = dw::checkImage(*disk);
        EXPECT_TRUE(report.clean()) << report.findings.front();
    }
}
