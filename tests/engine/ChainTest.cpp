#include "engine/Chain.h"
#include "engine/Check.h"
#include "engine/Delete.h"
#include "engine/Directory.h"
#include "engine/Import.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

using namespace dwtest;

namespace {
std::unique_ptr<dw::DiskImage> openBuilt(ImageBuilder& b, std::string& path) {
    path = b.save(tempPath("chain.dsk"));
    std::unique_ptr<dw::DiskImage> image;
    EXPECT_TRUE(dw::DiskImage::open(path, image).ok());
    return image;
}
} // namespace

TEST(Chain, WalksStopAtNullLoopsAndLinksOutsideTheImage) {
    ImageBuilder b = ImageBuilder::formatted(5, 10);
    b.chain({{1, 1}, {1, 2}, {2, 7}});
    std::string path;
    auto image = openBuilt(b, path);
    dw::ChainWalk walk = dw::walkChain(*image, {1, 1}, 100);
    EXPECT_EQ(walk.end, dw::ChainWalk::End::Null);
    EXPECT_EQ(walk.sectors.size(), 3u);
    EXPECT_EQ(dw::walkChain(*image, {1, 1}, 2).end, dw::ChainWalk::End::Limit);

    b.setLink({2, 7}, {1, 2});
    image = openBuilt(b, path);
    walk = dw::walkChain(*image, {1, 1}, 100);
    EXPECT_EQ(walk.end, dw::ChainWalk::End::Loop);
    EXPECT_EQ(walk.badLink, (dw::SectorLink{1, 2}));

    b.setLink({2, 7}, {9, 1});
    image = openBuilt(b, path);
    EXPECT_EQ(dw::walkChain(*image, {1, 1}, 100).end, dw::ChainWalk::End::OutsideImage);
}

TEST(Chain, DeleteKeepsTheImageConsistent) {
    ImageBuilder b = ImageBuilder::formatted(10, 10);
    b.addFile("A", "TXT", std::vector<std::uint8_t>(600, 'a'));
    b.addFile("B", "BIN", std::vector<std::uint8_t>(300, 2));
    std::string path;
    auto image = openBuilt(b, path);
    ASSERT_TRUE(dw::checkImage(*image).clean());
    ASSERT_TRUE(dw::deleteFile(*image, "A", "TXT").ok());
    EXPECT_TRUE(dw::checkImage(*image).clean()) << dw::checkImage(*image).findings[0];
    EXPECT_EQ(dw::deleteFile(*image, "A", "TXT").code(), dw::ErrorCode::NotFound);
    ASSERT_TRUE(dw::deleteFile(*image, "B", "BIN").ok());
    EXPECT_TRUE(dw::checkImage(*image).clean());
    dw::SystemInformationRecord sir;
    ASSERT_TRUE(image->readSir(sir).ok());
    EXPECT_EQ(sir.freeSectorCount, 90);
    EXPECT_EQ(sir.lastFree, (dw::SectorLink{1, 5}));
}

TEST(Chain, DeleteWithAnEmptyFreeChainMakesTheFileTheFreeChain) {
    ImageBuilder b = ImageBuilder::formatted(2, 10);
    b.addFile("FULL", "DAT", std::vector<std::uint8_t>(252 * 10, 1));
    std::string path;
    auto image = openBuilt(b, path);
    ASSERT_TRUE(dw::checkImage(*image).clean());
    ASSERT_TRUE(dw::deleteFile(*image, "FULL", "DAT").ok());
    dw::SystemInformationRecord sir;
    ASSERT_TRUE(image->readSir(sir).ok());
    EXPECT_EQ(sir.firstFree, (dw::SectorLink{1, 1}));
    EXPECT_EQ(sir.lastFree, (dw::SectorLink{1, 10}));
    EXPECT_EQ(sir.freeSectorCount, 10);
    EXPECT_TRUE(dw::checkImage(*image).clean());
}

TEST(Chain, DeleteRefusesDamagedChainsWithoutWriting) {
    ImageBuilder b = ImageBuilder::formatted(10, 10);
    b.addFile("LOOP", "TXT", std::vector<std::uint8_t>(600, 'a'));
    b.setLink({1, 3}, {1, 1});
    std::string path;
    auto image = openBuilt(b, path);
    const auto before = readFileBytes(path);
    dw::Status status = dw::deleteFile(*image, "LOOP", "TXT");
    EXPECT_EQ(status.code(), dw::ErrorCode::Damaged);
    EXPECT_NE(status.text().find("nothing was changed"), std::string::npos);
    image.reset();
    EXPECT_EQ(readFileBytes(path), before);
}

TEST(Chain, CheckReportsLostSectorsAndBadCounts) {
    ImageBuilder b = ImageBuilder::formatted(4, 10);
    b.addFile("A", "TXT", std::vector<std::uint8_t>(600, 'a'));
    SirSpec sir;
    sir.firstFree = {1, 5}; // 1-4 lost
    sir.lastFree = {3, 10};
    sir.freeCount = 26;
    b.sir(sir);
    std::string path;
    auto image = openBuilt(b, path);
    dw::CheckReport report = dw::checkImage(*image);
    ASSERT_EQ(report.findings.size(), 1u);
    EXPECT_EQ(report.findings[0], "1 sector is in no chain: 001-004");
}

namespace {
struct NoAnswers : dw::ImportQuestions {
    bool askName(std::string&) override { return false; }
    bool askYesNo(const std::string&) override { return false; }
    void tell(const std::string&) override {}
};
} // namespace

// An image whose length fits no layout of its geometry (here: 7 sectors short, which would
// leave track 0 too few for a directory) is laid out some unknown way; changing it by our
// addresses could write into other files.
TEST(Chain, ImagesWhoseLengthFitsNoLayoutAreNeverChanged) {
    ImageBuilder b = ImageBuilder::formatted(10, 10);
    b.addFile("A", "TXT", std::vector<std::uint8_t>(600, 'a'));
    b.bytes().resize(b.bytes().size() - 7 * 256);
    std::string path;
    auto image = openBuilt(b, path);
    const auto before = readFileBytes(path);

    dw::Status status = dw::deleteFile(*image, "A", "TXT");
    EXPECT_EQ(status.code(), dw::ErrorCode::BadImage);
    EXPECT_NE(status.text().find("nothing was changed"), std::string::npos) << status.text();

    const std::string host = tempPath("host.txt");
    writeFileBytes(host, {'h', 'i', '\n'});
    NoAnswers answers;
    dw::ImportResult imported = dw::importFile(*image, host, {}, answers, "HI.TXT");
    EXPECT_FALSE(imported.committed);
    EXPECT_EQ(imported.status.code(), dw::ErrorCode::BadImage);
    image.reset();
    EXPECT_EQ(readFileBytes(path), before);
}

// Ownership tables cover every track the file holds (a shorter track 0, a header and a file
// longer than its geometry included); a link beyond them still reads and writes safely.
TEST(Chain, LinkTablesCoverEveryTrackTheFileHolds) {
    struct Case {
        int tracks, sectors;
        Layout layout;
        std::size_t extraBytes;
    };
    for (const Case& c : {Case{5, 10, {}, 0}, Case{5, 18, {10, 0}, 0}, Case{6, 10, {0, 64}, 0},
                          Case{5, 10, {}, 3 * 256}, Case{255, 10, {}, 20 * 2560}}) {
        ImageBuilder b = ImageBuilder::formatted(c.tracks, c.sectors, "T", c.layout);
        std::vector<std::uint8_t> bytes = b.bytes();
        bytes.resize(bytes.size() + c.extraBytes, 0);
        auto image = dw::DiskImage::inMemory(bytes, true);
        dw::SystemInformationRecord sir;
        ASSERT_TRUE(image->readSir(sir).ok());
        std::size_t held = 0; // tracks up to the last one the image has a sector of
        for (int t = 0; t < 256; ++t)
            if (image->contains({static_cast<std::uint8_t>(t), 1}))
                held = static_cast<std::size_t>(t) + 1;
        EXPECT_GE(dw::tracksHeld(*image), held) << c.tracks << "x" << c.sectors;
        EXPECT_LE(dw::tracksHeld(*image), std::min<std::size_t>(held + 1, 256));
    }
    ImageBuilder small = ImageBuilder::formatted(3, 10);
    std::vector<std::uint8_t> bytes = small.bytes();
    auto image = dw::DiskImage::inMemory(bytes, true);
    dw::SystemInformationRecord sir;
    ASSERT_TRUE(image->readSir(sir).ok());
    dw::LinkTable<int> table(*image, -1);
    EXPECT_EQ(table.get({255, 255}), -1);
    table.at({255, 255}) = 7;
    EXPECT_EQ(table.get({255, 255}), 7);
    EXPECT_EQ(table.get({1, 1}), -1);
}

// Old bytes after the end of the directory are damage: the next import's entry takes the end
// slot and brings them back as files (found by fuzzing).
TEST(Chain, CheckReportsEntriesAfterTheEndOfTheDirectory) {
    ImageBuilder b = ImageBuilder::formatted(5, 10);
    b.addFile("KEEP", "TXT", {'k'});
    std::vector<std::uint8_t> old(24, 'z');
    b.rawEntry({0, 6}, 4, old);
    std::vector<std::uint8_t> bytes = b.bytes();
    auto image = dw::DiskImage::inMemory(bytes, false);
    const dw::CheckReport report = dw::checkImage(*image);
    ASSERT_EQ(report.findings.size(), 1u);
    EXPECT_EQ(report.findings[0], "Sector 000-006 holds an entry (slot 5) after the end of the "
                                  "directory; the next file imported would bring it back");
    EXPECT_EQ(report.details[0].kind, dw::FindingKind::DirectoryDamaged);
}
