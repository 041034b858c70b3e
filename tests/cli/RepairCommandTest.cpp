#include "tests/cli/CliRun.h"
#include "tests/support/ImageBuilder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

using namespace dwtest;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;
using ::testing::HasSubstr;

// One image through repair: asked and declined, refused without a terminal, done with --yes
// (keeping IMAGE.bak), then sound; a second repair never replaces the first one's copy.
TEST(CliRepair, RebuildsTheFreeChainKeepingTheOldImage) {
    ImageBuilder b = ImageBuilder::formatted(4, 10);
    b.addFile("ONE", "TXT", Bytes(3 * 252, '1'));
    b.setLink({2, 1}, {2, 3}); // 2/2 is lost: the chain holds one sector fewer than the SIR counts
    const std::string image = b.save(tempPath("repair.dsk"));
    const std::string backup = image + ".bak";

    CliRun run = cli({"repair", image}, "n\n", true);
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.err, HasSubstr("  joining the free chain: 002-002 (1 sector)\n"));
    EXPECT_THAT(run.err, HasSubstr("SIR: first free 001-004 (was 001-004), last free 003-010 (was "
                                   "003-010), free sectors 27 (was 27)"));
    run = cli({"repair", image});
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.err, HasSubstr("without a terminal give --yes. Nothing was changed"));
    EXPECT_EQ(readFileBytes(image), b.bytes());
    EXPECT_FALSE(fs::exists(backup));

    run = cli({"repair", image, "--yes", "--json"});
    EXPECT_EQ(run.code, 0) << run.err;
    const nlohmann::json document = nlohmann::json::parse(run.out);
    EXPECT_EQ(document["repaired"], true);
    EXPECT_EQ(document["backup"], backup);
    EXPECT_EQ(document["added"], nlohmann::json::parse(R"([{"track":2,"sector":2}])"));
    EXPECT_EQ(document["after"]["freeSectors"], 27);
    run = cli({"repair", image});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.err, image + ": the free chain is sound; nothing to repair\n");

    ImageBuilder again = b;
    again.setLink({3, 1}, {3, 3});
    again.save(image);
    run = cli({"repair", image, "--yes"});
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.err, HasSubstr(backup + " exists already; nothing was changed"));
    EXPECT_EQ(readFileBytes(image), again.bytes());
    EXPECT_EQ(readFileBytes(backup), b.bytes());
}
