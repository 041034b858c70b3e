#include "cli/Cli.h"
#include "tests/cli/CliRun.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace dwtest;

TEST(CliInfo, InfoAndListShowTheWindowsTexts) {
    ImageBuilder b = ImageBuilder::formatted(35, 10, "SYSTEM");
    b.addFile("README", "TXT", std::vector<std::uint8_t>(300, 'a'));
    b.addFile("GAME", "BIN", {2, 0, 0}, true);
    const std::string path = b.save(tempPath("info.dsk"));

    CliRun info = cli({"info", path});
    EXPECT_EQ(info.code, 0) << info.err;
    EXPECT_NE(info.out.find("Volume Label       SYSTEM [1]"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Remaining Sectors     337"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("File Count             2\nTracks             35\n"
                            "Sectors per Track  10\n"),
              std::string::npos)
        << info.out;

    CliRun listing = cli({"list", path});
    EXPECT_EQ(listing.code, 0);
    EXPECT_NE(listing.out.find("FileName   Ext   R Date       Start     End       Count"),
              std::string::npos)
        << listing.out;
    EXPECT_NE(listing.out.find("README     TXT     2003-01-02 001-001   001-002        2"),
              std::string::npos)
        << listing.out;
}

TEST(CliInfo, DamagedImageListsWhatItFoundAndFails) {
    ImageBuilder b = ImageBuilder::formatted(35, 10);
    for (int k = 0; k < 10; ++k)
        b.entry({0, 5}, k, {"F" + std::to_string(k), "TXT"});
    b.setLink({0, 5}, {0, 5});
    CliRun run = cli({"list", b.save(tempPath("loop.dsk"))});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.out.find("F9"), std::string::npos);
    EXPECT_NE(run.err.find("directory chain is damaged"), std::string::npos) << run.err;
}

// A missing image and no command at all: in the table of CliErrors.
TEST(CliInfo, UsageErrors) {
    EXPECT_EQ(cli({"list"}).code, 2);
    EXPECT_EQ(cli({"--help"}).code, 0);
}
