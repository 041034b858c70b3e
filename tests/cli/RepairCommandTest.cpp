#include "tests/cli/CliRun.h"
#include "tests/support/ImageBuilder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>

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

// Damaged images: each change that would write through the damage is refused with the image
// left as it was, reading goes on for the sound files, and repair keeps what entries still name.
TEST(CliDamaged, RefusalsAndRepairs) {
    const std::string host = tempPath("new.txt");
    writeFileText(host, "NEW\n");
    struct Case {
        std::function<void(ImageBuilder&)> damage;
        std::vector<std::string> args; // after the image
        int code;
        std::string err; // a part of stderr
    };
    const std::string refused = "; nothing was changed (repair rebuilds the free chain)";
    const Case cases[] = {
        {[](ImageBuilder& b) { // the free chain runs into ONE
             b.setLink({1, 8}, {1, 1})
                 .sir({.firstFree = {1, 6}, .lastFree = {1, 3}, .freeCount = 6});
         },
         {"delete", "TWO.TXT", "--yes"},
         1,
         "TWO.TXT was not deleted: the free chain is damaged: its sector 001-001 also belongs to "
         "ONE.TXT" +
             refused},
        {[](ImageBuilder& b) {
             b.sir({.firstFree = {1, 6}, .lastFree = {3, 10}});
         },
         {"delete", "TWO.TXT", "--yes"},
         1,
         "the free chain is damaged: it holds 25 sectors, the SIR counts 0" + refused},
        {[](ImageBuilder& b) {
             b.setLink({3, 1}, {2, 5});
         }, // a loop far behind the first sector
         {"import", host, "--name", "NEW.TXT"},
         1,
         "The free chain is damaged: the chain returns to sector 002-005; NEW.TXT was not "
         "imported (repair rebuilds the free chain)"},
        {[](ImageBuilder& b) {
             b.setLink({3, 1}, {2, 5});
         },
         {"cat", "ONE.TXT"},
         0,
         ""},
        {[](ImageBuilder& b) {
             b.sector({0, 5})[16] = 0;
         }, // TWO lies after the end marker
         {"repair", "--yes"},
         0,
         "  kept out of it, as entries still name them: 001-004..001-005 (2 sectors)\n"},
        {[](ImageBuilder& b) { // ONE is cut after its first sector
             b.setLink({1, 1}, {0, 0})
                 .sir({.firstFree = {1, 6}, .lastFree = {3, 10}, .freeCount = 24});
         },
         {"repair", "--yes"},
         0,
         "  kept out of it, as entries still name them: 001-002..001-003 (2 sectors)\n"},
    };
    for (const Case& c : cases) {
        ImageBuilder b = ImageBuilder::formatted(4, 10);
        b.addFile("ONE", "TXT", Bytes(3 * 252, '1'));
        b.addFile("TWO", "TXT", Bytes(2 * 252, '2'));
        c.damage(b);
        const std::string image = b.save(tempPath("damaged.dsk"));
        std::vector<std::string> args{c.args.front(), image};
        args.insert(args.end(), c.args.begin() + 1, c.args.end());
        const CliRun run = cli(args);
        SCOPED_TRACE(c.args.front() + ": " + run.err);
        EXPECT_EQ(run.code, c.code);
        EXPECT_THAT(run.err, HasSubstr(c.err));
        if (c.code != 0) {
            EXPECT_EQ(readFileBytes(image), b.bytes());
        }
        // Repair leaves the free chain sound and every sector an entry names out of it.
        if (c.args.front() == "repair") {
            EXPECT_EQ(cli({"check", image}).out.find("free chain"), std::string::npos);
        }
    }
}
