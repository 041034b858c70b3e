#include "engine/Check.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

using namespace dwtest;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::vector<std::string> check(ImageBuilder& b) {
    const std::string path = b.save(tempPath("check.dsk"));
    std::unique_ptr<dw::DiskImage> image;
    EXPECT_TRUE(dw::DiskImage::open(path, image).ok());
    std::vector<std::string> findings = dw::checkImage(*image).findings;
    EXPECT_EQ(readFileBytes(path), b.bytes()) << "the check wrote to the image";
    return findings;
}

std::string joined(const std::vector<std::string>& findings) {
    std::string all;
    for (const std::string& f : findings)
        all += f + "\n";
    return all;
}

// Two files (1/1..1/3 and 1/4..1/5) on a 4-track disk; the free chain is 1/6..3/10.
ImageBuilder twoFiles() {
    ImageBuilder b = ImageBuilder::formatted(4, 10);
    b.addFile("ONE", "TXT", Bytes(600, 'a'));
    b.addFile("TWO", "BIN", Bytes(300, 2));
    return b;
}

} // namespace

TEST(Check, SoundImagesAreClean) {
    ImageBuilder b = twoFiles();
    b.addFile("EMPTY", "TXT", {}); // no sectors, start and end 0/0
    EXPECT_EQ(joined(check(b)), "");
    // Record numbers are not checked: several tools write 0 there.
    b.setRecord({1, 2}, 0);
    EXPECT_EQ(joined(check(b)), "");
    ImageBuilder full = ImageBuilder::formatted(2, 10);
    full.addFile("ALL", "DAT", Bytes(252 * 10, 1));
    EXPECT_EQ(joined(check(full)), "");
    // A directory that goes on into track 3 behind its last entry owns those sectors.
    ImageBuilder longDirectory = twoFiles();
    longDirectory.setLink({0, 10}, {3, 9}).setLink({3, 9}, {3, 10}).setLink({3, 10}, {0, 0});
    longDirectory.setLink({3, 8}, {0, 0});
    longDirectory.sir({.firstFree = {1, 6}, .lastFree = {3, 8}, .freeCount = 23});
    EXPECT_EQ(joined(check(longDirectory)), "");
}

TEST(Check, FileChainsThatDisagreeWithTheirEntry) {
    ImageBuilder longer = twoFiles();
    longer.entry({0, 5}, 0, {"ONE", "TXT", {1, 1}, {1, 3}, 2});
    EXPECT_NE(joined(check(longer)).find("ONE.TXT: the chain holds 3 sectors"), std::string::npos)
        << joined(check(longer));

    ImageBuilder shorter = twoFiles();
    shorter.setLink({1, 2}, {0, 0}); // 1/3 is now in no chain
    const std::string s = joined(check(shorter));
    EXPECT_NE(s.find("ONE.TXT: the chain holds 2 sectors"), std::string::npos) << s;
    EXPECT_NE(s.find("ONE.TXT: the chain ends at 001-002"), std::string::npos) << s;
    EXPECT_EQ(s.find("in no chain"), std::string::npos) << s; // 1/3 is ONE's end: still ONE's

    ImageBuilder outside = twoFiles();
    outside.setLink({1, 2}, {1, 11});
    EXPECT_NE(joined(check(outside)).find("ONE.TXT: the chain leads to 001-011"),
              std::string::npos);

    ImageBuilder loop = twoFiles();
    loop.setLink({1, 3}, {1, 1});
    EXPECT_NE(joined(check(loop)).find("ONE.TXT: the chain returns to sector 001-001"),
              std::string::npos);
}

TEST(Check, FreeChainThatDisagreesWithTheSir) {
    ImageBuilder count = twoFiles();
    SirSpec sir;
    sir.firstFree = {1, 6};
    sir.lastFree = {3, 10};
    sir.freeCount = 24;
    count.sir(sir);
    EXPECT_EQ(joined(check(count)), "The free chain holds 25 sectors, the SIR counts 24\n");

    ImageBuilder end = twoFiles();
    sir.freeCount = 25;
    sir.lastFree = {3, 9};
    end.sir(sir);
    EXPECT_EQ(joined(check(end)), "The free chain ends at 003-010, the SIR says 003-009\n");

    ImageBuilder empty = twoFiles();
    empty.sir(SirSpec{});
    const std::string e = joined(check(empty));
    EXPECT_NE(e.find("25 sectors are in no chain: 001-006..003-010"), std::string::npos) << e;
}

TEST(Check, SectorsInTwoChainsAndOutsideTheGeometry) {
    ImageBuilder shared = twoFiles();
    shared.setLink({1, 3}, {1, 4}); // ONE runs on into TWO
    shared.entry({0, 5}, 0, {"ONE", "TXT", {1, 1}, {1, 5}, 5});
    const std::string s = joined(check(shared));
    EXPECT_NE(s.find("Sector 001-004 belongs to both ONE.TXT and TWO.BIN"), std::string::npos) << s;

    // A fourth track the SIR does not count: the file is too long, and a file lives there.
    ImageBuilder beyond = twoFiles();
    SirSpec sir;
    sir.firstFree = {1, 6};
    sir.lastFree = {2, 10};
    sir.freeCount = 15;
    sir.maxTrack = 2;
    beyond.sir(sir).setLink({2, 10}, {0, 0});
    beyond.entry({0, 5}, 2, {"FAR", "TXT", {3, 1}, {3, 10}, 10});
    const std::string b = joined(check(beyond));
    EXPECT_NE(b.find("The file is 10240 bytes long; 3 tracks of 10 sectors need 7680"),
              std::string::npos)
        << b;
    EXPECT_NE(b.find("FAR.TXT: sector 003-001 lies outside the geometry"), std::string::npos) << b;
}

TEST(Check, DirectoryLoopIsReported) {
    // A full sector, so the walk reaches its link back to itself.
    ImageBuilder b = ImageBuilder::formatted(4, 10);
    for (int k = 0; k < 10; ++k)
        b.entry({0, 5}, k, {"F" + std::to_string(k), "TXT"});
    b.setLink({0, 5}, {0, 5});
    const std::string s = joined(check(b));
    EXPECT_NE(s.find("directory chain is damaged"), std::string::npos) << s;
}

TEST(Check, FileDataInTheSystemSectorsIsReported) {
    // Sector 0/3 holds the SIR; no other chain claims it, so only its track gives it away.
    ImageBuilder b = twoFiles();
    b.entry({0, 5}, 2, {"SIR", "SYS", {0, 3}, {0, 3}, 1});
    b.setLink({0, 3}, {0, 0});
    EXPECT_EQ(joined(check(b)),
              "SIR.SYS: sector 000-003 lies on track 0, among the system and directory sectors\n");
}
