#include "cli/Cli.h"
#include "engine/BootSectors.h"
#include "tests/cli/CliRun.h"
#include "tests/support/ImageBuilder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

using namespace dwtest;
using ::testing::HasSubstr;

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
    EXPECT_THAT(run.err, HasSubstr("80 tracks, 36 sectors per track, 2844 free sectors"));
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
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--tracks", "257", "--sectors", "300"}, "Maximum Tracks Per Diskette is 256\n"},
        {{"--tracks", "-1"}, "Maximum Tracks Per Diskette is 256\n"},
        {{"--sectors", "128"}, "Maximum Sectors for Double Sided Diskette is 127\n"},
        {{"--format", "os9", "--sides", "1", "--sectors", "257"},
         "Maximum Sectors for Single Sided Diskette is 256\n"},
        {{"--tracks", "1"}, "A diskette needs at least 2 tracks"},
        {{"--track0-sectors", "4"}, "Track 0 needs 5 to 36 sectors"},
    };
    for (const auto& [options, message] : cases) {
        std::vector<std::string> args = {"create", path};
        args.insert(args.end(), options.begin(), options.end());
        CliRun run = cli(args);
        EXPECT_EQ(run.code, 1) << message;
        EXPECT_EQ(run.err.substr(0, 18 + path.size() + message.size()),
                  "diskwright-cli: " + path + ": " + message);
    }
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

// A track 0 of its own size: made, and shown by info.
TEST(CliCreate, ShorterTrackZero) {
    const std::string path = freshPath("cli-track0.dsk");
    CliRun run = cli({"create", path, "--tracks", "40", "--track0-sectors", "10"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("36 sectors per track (track 0: 10), 1404 free sectors"));
    EXPECT_THAT(cli({"info", path, "--json"}).out,
                HasSubstr("\"track0Sectors\":10,\"headerBytes\":0"));
}
