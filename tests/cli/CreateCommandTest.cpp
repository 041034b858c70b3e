#include "cli/Cli.h"
#include "engine/BootSectors.h"
#include "tests/cli/CliRun.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

using namespace dwtest;

namespace {

std::string freshPath(const std::string& name) {
    const std::string path = tempPath(name);
    std::filesystem::remove(path);
    return path;
}
} // namespace

TEST(CliCreate, DefaultsAreTheDialogsFirstChoices) {
    const std::string path = freshPath("cli-default.dsk");
    CliRun run = cli({"create", path, "--label", "work disk 2025"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.err.find("80 tracks, 36 sectors per track, 2844 free sectors"), std::string::npos)
        << run.err;
    const std::vector<std::uint8_t> image = readFileBytes(path);
    ASSERT_EQ(image.size(), 737280u);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 256, dw::Boot6809Sector.begin()));

    CliRun info = cli({"info", path});
    EXPECT_EQ(info.code, 0) << info.err;
    EXPECT_NE(info.out.find("Volume Label       WORK DISK 2 [0]"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Remaining Sectors    2844"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("File Count             0"), std::string::npos) << info.out;
}

TEST(CliCreate, GeometryAndBootChoices) {
    const std::string small = freshPath("cli-sd.dsk");
    ASSERT_EQ(cli({"create", small, "--tracks", "35", "--density", "single", "--sides", "1",
                   "--boot", "none"})
                  .code,
              0);
    std::vector<std::uint8_t> image = readFileBytes(small);
    ASSERT_EQ(image.size(), 89600u);
    EXPECT_TRUE(std::all_of(image.begin(), image.begin() + 256, [](auto v) { return v == 0; }));

    // --sectors overrides the density's preset.
    const std::string custom = freshPath("cli-custom.dsk");
    ASSERT_EQ(cli({"create", custom, "--tracks", "40", "--density", "quad", "--sectors", "20",
                   "--boot", "6800"})
                  .code,
              0);
    image = readFileBytes(custom);
    ASSERT_EQ(image.size(), 40u * 40 * 256);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 256, dw::Boot6800Sector.begin()));
    EXPECT_EQ(image[551], 40); // maxSector

    const std::string os9 = freshPath("cli-os9.dsk");
    ASSERT_EQ(cli({"create", os9, "--format", "os9", "--label", "Mixed"}).code, 0);
    image = readFileBytes(os9);
    ASSERT_EQ(image.size(), 2872u * 256);
    EXPECT_EQ(image[31], 'M'); // OS9 keeps the name as typed
    EXPECT_EQ(image[35], 'd' | 0x80);
}

TEST(CliCreate, ExistingFileNeedsForce) {
    const std::string path = freshPath("cli-exists.dsk");
    writeFileBytes(path, {1, 2, 3});
    CliRun refused = cli({"create", path});
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err, "diskwright-cli: " + path +
                               ": already exists; it was left unchanged (use --force)\n");
    EXPECT_EQ(readFileBytes(path), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(cli({"create", path, "--force"}).code, 0);
    EXPECT_EQ(readFileBytes(path).size(), 737280u);
}

TEST(CliCreate, LimitsAndUsageErrors) {
    const std::string path = freshPath("cli-limits.dsk");
    CliRun tracks = cli({"create", path, "--tracks", "257", "--sectors", "300"});
    EXPECT_EQ(tracks.code, 1);
    EXPECT_EQ(tracks.err, "diskwright-cli: " + path + ": Maximum Tracks Per Diskette is 256\n");
    CliRun negative = cli({"create", path, "--tracks", "-1"});
    EXPECT_EQ(negative.err, "diskwright-cli: " + path + ": Maximum Tracks Per Diskette is 256\n");
    CliRun sectors = cli({"create", path, "--sectors", "128"});
    EXPECT_EQ(sectors.code, 1);
    EXPECT_EQ(sectors.err,
              "diskwright-cli: " + path + ": Maximum Sectors for Double Sided Diskette is 127\n");
    CliRun os9 = cli({"create", path, "--format", "os9", "--sides", "1", "--sectors", "257"});
    EXPECT_EQ(os9.err,
              "diskwright-cli: " + path + ": Maximum Sectors for Single Sided Diskette is 256\n");
    CliRun tiny = cli({"create", path, "--tracks", "1"});
    EXPECT_EQ(tiny.code, 1);
    EXPECT_NE(tiny.err.find("at least 2 tracks"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(path));

    EXPECT_EQ(cli({"create", path, "--format", "cpm"}).code, 2);
    EXPECT_EQ(cli({"create", path, "--sides", "3"}).code, 2);
    EXPECT_EQ(cli({"create", path, "--boot", "6502"}).code, 2);
    EXPECT_EQ(cli({"create"}).code, 2);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(CliCreate, BuiltProgramCreatesAnImage) {
    const std::string path = freshPath("cli-program.dsk");
    const std::string command =
        std::string("\"") + DW_CLI_PROGRAM + "\" create \"" + path + "\" --tracks 35 > /dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readFileBytes(path).size(), 35u * 36 * 256);
}

// A track 0 of its own size: made, shown by info and list, and used by every command.
TEST(CliCreate, ShorterTrackZeroWorksEverywhere) {
    const std::string path = freshPath("cli-track0.dsk");
    CliRun run = cli({"create", path, "--tracks", "40", "--track0-sectors", "10"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.err.find("36 sectors per track (track 0: 10), 1404 free sectors"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(readFileBytes(path).size(), (10u + 39 * 36) * 256);

    CliRun info = cli({"info", path, "--json"});
    EXPECT_NE(info.out.find("\"track0Sectors\":10,\"headerBytes\":0"), std::string::npos)
        << info.out;
    const std::string host = tempPath("t0.txt");
    writeFileBytes(host, {'A', 'B', '\n'});
    EXPECT_EQ(cli({"import", path, host, "--name", "T0.TXT"}).code, 0);
    CliRun cat = cli({"cat", path, "T0.TXT"});
    EXPECT_EQ(cat.out.substr(0, 4), "AB\r\n");
    EXPECT_EQ(cli({"delete", path, "T0.TXT", "--yes"}).code, 0);
    CliRun check = cli({"check", path});
    EXPECT_EQ(check.code, 0) << check.out << check.err;

    CliRun bad = cli({"create", freshPath("cli-bad.dsk"), "--track0-sectors", "4"});
    EXPECT_EQ(bad.code, 1);
    EXPECT_NE(bad.err.find("Track 0 needs 5 to 36 sectors"), std::string::npos) << bad.err;
}
