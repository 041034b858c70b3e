#include "engine/Delete.h"
#include "engine/Check.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

using namespace dwtest;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Opened {
    std::string path;
    std::unique_ptr<dw::DiskImage> image;
};

Opened open(const ImageBuilder& b) {
    Opened o;
    o.path = b.save(tempPath("delete.dsk"));
    dw::Status status = dw::DiskImage::open(o.path, o.image);
    EXPECT_TRUE(status.ok()) << status.text();
    return o;
}

std::string findings(dw::DiskImage& image) {
    std::string all;
    for (const std::string& f : dw::checkImage(image).findings)
        all += f + "\n";
    return all;
}

// Reads bytes of the saved image back without the engine.
Bytes sectorOf(const std::string& path, int spt, Link l) {
    Bytes all = readFileBytes(path);
    std::size_t at = (static_cast<std::size_t>(l.track) * spt + l.sector - 1) * 256;
    return Bytes(all.begin() + static_cast<std::ptrdiff_t>(at),
                 all.begin() + static_cast<std::ptrdiff_t>(at + 256));
}
Link linkAt(const Bytes& sector, std::size_t at = 0) {
    return {sector[at], sector[at + 1]};
}
int big16(const Bytes& b, std::size_t at) {
    return b[at] << 8 | b[at + 1];
}

Bytes data(std::size_t sectors, std::uint8_t fill) {
    return Bytes(sectors * 252, fill);
}

} // namespace

TEST(Delete, OneFileGoesToTheTailOfTheFreeChain) {
    ImageBuilder b = ImageBuilder::formatted(5, 10);
    b.addFile("KEEP", "TXT", data(2, 'k'));
    b.addFile("GONE", "BIN", data(3, 'g')); // sectors 1/3..1/5
    Opened o = open(b);
    const Bytes before = readFileBytes(o.path);
    ASSERT_TRUE(dw::deleteFile(*o.image, "GONE", "BIN").ok());
    EXPECT_EQ(findings(*o.image), "");

    const Bytes after = readFileBytes(o.path);
    const Bytes dir = sectorOf(o.path, 10, {0, 5});
    EXPECT_EQ(dir[16 + 24], 0xFF);
    for (std::size_t i = 1; i < 24; ++i)
        EXPECT_EQ(dir[16 + 24 + i], before[4 * 256 + 16 + 24 + i]) << i;
    EXPECT_TRUE(linkAt(sectorOf(o.path, 10, {4, 10})) == (Link{1, 3}));
    const Bytes sir = sectorOf(o.path, 10, {0, 3});
    EXPECT_TRUE(linkAt(sir, 16 + 13) == (Link{1, 6})); // firstFree stays
    EXPECT_TRUE(linkAt(sir, 16 + 15) == (Link{1, 5}));
    EXPECT_EQ(big16(sir, 16 + 17), 35 + 3);
    EXPECT_TRUE(linkAt(sectorOf(o.path, 10, {1, 5})) == (Link{0, 0}));
    // Only the entry's first byte, two links and the SIR changed; the data stays.
    std::size_t changed = 0;
    for (std::size_t i = 0; i < before.size(); ++i)
        changed += before[i] != after[i];
    EXPECT_LE(changed, 1u + 2u + 4u);
    EXPECT_EQ(sectorOf(o.path, 10, {1, 4})[100], 'g');
}

TEST(Delete, SeveralFilesEachReadTheSirAfresh) {
    ImageBuilder b = ImageBuilder::formatted(10, 10);
    for (int i = 0; i < 14; ++i) // the last ones lie in the second directory sector
        b.addFile("F" + std::to_string(i), "DAT", data(static_cast<std::size_t>(i % 3 + 1), 'a'));
    Opened o = open(b);
    int expectedFree = 90 - (5 * 1 + 5 * 2 + 4 * 3);
    for (const char* name : {"F1", "F13", "F0"}) {
        ASSERT_TRUE(dw::deleteFile(*o.image, name, "DAT").ok()) << name;
        EXPECT_EQ(findings(*o.image), "") << name;
    }
    expectedFree += 2 + 2 + 1;
    const Bytes sir = sectorOf(o.path, 10, {0, 3});
    EXPECT_EQ(big16(sir, 16 + 17), expectedFree);
    EXPECT_TRUE(linkAt(sir, 16 + 15) == (Link{1, 1}));          // F0, the last one handled
    EXPECT_EQ(sectorOf(o.path, 10, {0, 6})[16 + 3 * 24], 0xFF); // F13
}

TEST(Delete, FirstOfTwoLiveEntriesAndCaseMatters) {
    ImageBuilder b = ImageBuilder::formatted(5, 10);
    b.addFile("TWIN", "TXT", data(1, 'x'));
    b.addFile("TWIN", "TXT", data(1, 'y'));
    b.rawEntry({0, 5}, 0, {0x80 | 'T', 'W', 'I', 'N', 0, 0, 0, 0, 'T', 'X', 'T'});
    Opened o = open(b);
    // A deleted slot is passed over: the second twin goes, since the first is deleted already.
    EXPECT_EQ(dw::deleteFile(*o.image, "twin", "TXT").code(), dw::ErrorCode::NotFound);
    EXPECT_EQ(dw::deleteFile(*o.image, "TWIN", "").code(), dw::ErrorCode::NotFound);
    ASSERT_TRUE(dw::deleteFile(*o.image, "TWIN", "TXT").ok());
    EXPECT_EQ(sectorOf(o.path, 10, {0, 5})[16 + 24], 0xFF);
    EXPECT_EQ(dw::deleteFile(*o.image, "TWIN", "TXT").code(), dw::ErrorCode::NotFound);
}

TEST(Delete, FreeCountIsBigEndianSixteenBit) {
    ImageBuilder b = ImageBuilder::formatted(44, 12); // 516 data sectors
    b.addFile("BIG", "DAT", data(0x0105, 'b'));
    Opened o = open(b);
    ASSERT_EQ(big16(sectorOf(o.path, 12, {0, 3}), 16 + 17), 0x00FF);
    ASSERT_TRUE(dw::deleteFile(*o.image, "BIG", "DAT").ok());
    const Bytes sir = sectorOf(o.path, 12, {0, 3});
    EXPECT_EQ(sir[16 + 17], 0x02);
    EXPECT_EQ(sir[16 + 18], 0x04);
    EXPECT_EQ(findings(*o.image), "");
}

TEST(Delete, EmptyFreeChainBecomesTheFilesChain) {
    ImageBuilder b = ImageBuilder::formatted(3, 10);
    b.addFile("A", "TXT", data(5, 'a'));
    b.addFile("B", "TXT", data(15, 'b')); // fills the disk
    Opened o = open(b);
    ASSERT_EQ(big16(sectorOf(o.path, 10, {0, 3}), 16 + 17), 0);
    ASSERT_TRUE(dw::deleteFile(*o.image, "B", "TXT").ok());
    const Bytes sir = sectorOf(o.path, 10, {0, 3});
    EXPECT_TRUE(linkAt(sir, 16 + 13) == (Link{1, 6}));
    EXPECT_TRUE(linkAt(sir, 16 + 15) == (Link{2, 10}));
    EXPECT_EQ(big16(sir, 16 + 17), 15);
    EXPECT_EQ(findings(*o.image), "");
    ASSERT_TRUE(dw::deleteFile(*o.image, "A", "TXT").ok());
    EXPECT_EQ(findings(*o.image), "");
}

TEST(Delete, EmptyFileOnlyMarksItsEntry) {
    ImageBuilder b = ImageBuilder::formatted(3, 10);
    b.addFile("EMPTY", "TXT", {});
    Opened o = open(b);
    const Bytes before = readFileBytes(o.path);
    ASSERT_TRUE(dw::deleteFile(*o.image, "EMPTY", "TXT").ok());
    Bytes after = readFileBytes(o.path);
    EXPECT_EQ(after[4 * 256 + 16], 0xFF);
    after[4 * 256 + 16] = before[4 * 256 + 16];
    EXPECT_EQ(after, before);
    EXPECT_EQ(findings(*o.image), "");
}

TEST(Delete, DamagedChainsChangeNothing) {
    struct Case {
        const char* what;
        void (*damage)(ImageBuilder&);
    };
    const Case cases[] = {
        {"file loop",
         [](ImageBuilder& b) {
             b.setLink({1, 2}, {1, 1});
         }},
        {"file leaves image",
         [](ImageBuilder& b) {
             b.setLink({1, 2}, {9, 1});
         }},
        {"file misses its end",
         [](ImageBuilder& b) {
             b.setLink({1, 2}, {0, 0});
         }},
        {"free loop",
         [](ImageBuilder& b) {
             b.setLink({2, 10}, {1, 4});
         }},
        {"free leaves image",
         [](ImageBuilder& b) {
             b.setLink({2, 1}, {1, 77});
         }},
        {"free misses lastFree",
         [](ImageBuilder& b) {
             b.setLink({2, 1}, {0, 0});
         }},
    };
    for (const Case& c : cases) {
        ImageBuilder b = ImageBuilder::formatted(3, 10);
        b.addFile("F", "TXT", data(3, 'f'));
        c.damage(b);
        Opened o = open(b);
        const Bytes before = readFileBytes(o.path);
        dw::Status status = dw::deleteFile(*o.image, "F", "TXT");
        EXPECT_EQ(status.code(), dw::ErrorCode::Damaged) << c.what;
        EXPECT_NE(status.text().find("nothing was changed"), std::string::npos) << status.text();
        EXPECT_EQ(readFileBytes(o.path), before) << c.what;
    }
}

TEST(Delete, ReadOnlyImageIsLeftAlone) {
    ImageBuilder b = ImageBuilder::formatted(3, 10);
    b.addFile("F", "TXT", data(1, 'f'));
    const std::string path = b.save(tempPath("ro.dsk"));
    std::unique_ptr<dw::DiskImage> image;
    ASSERT_TRUE(dw::DiskImage::openReadOnly(path, image).ok());
    EXPECT_EQ(dw::deleteFile(*image, "F", "TXT").code(), dw::ErrorCode::ReadOnly);
    EXPECT_EQ(readFileBytes(path), b.bytes());
}

TEST(Delete, ChainsThroughTrackZeroAreRefused) {
    // A file living in the last directory sector, and a free chain ending there: either
    // deletion would put a directory sector where an import can overwrite it.
    ImageBuilder file = ImageBuilder::formatted(3, 10);
    file.entry({0, 5}, 0, {"DIR", "TXT", {0, 10}, {0, 10}, 1});
    ImageBuilder free = ImageBuilder::formatted(3, 10);
    free.addFile("F", "TXT", data(1, 'f'));
    free.setLink({2, 10}, {0, 10});
    SirSpec sir;
    sir.firstFree = {1, 2};
    sir.lastFree = {0, 10};
    sir.freeCount = 20;
    free.sir(sir);
    for (ImageBuilder* b : {&file, &free}) {
        Opened o = open(*b);
        const Bytes before = readFileBytes(o.path);
        const std::string name = b == &file ? "DIR" : "F";
        dw::Status status = dw::deleteFile(*o.image, name, "TXT");
        EXPECT_EQ(status.code(), dw::ErrorCode::Damaged) << name;
        EXPECT_NE(status.text().find("track 0"), std::string::npos) << status.text();
        EXPECT_EQ(readFileBytes(o.path), before);
        EXPECT_NE(findings(*o.image).find("lies on track 0"), std::string::npos);
    }
}

// A chain that meets another file's or the directory's, or a count that is not the chain's
// length: freeing it would hand live sectors to the next import, or miscount the free ones.
TEST(Delete, ChainsOwnedBySomeoneElseAreRefused) {
    struct Case {
        const char* file;
        void (*damage)(ImageBuilder&);
        const char* refusal;
        const char* finding;
    };
    const Case cases[] = {
        {"ONE",
         [](ImageBuilder& b) {
             b.setLink({1, 3}, {1, 4}); // ONE runs on into TWO
             b.entry({0, 5}, 0, {"ONE", "TXT", {1, 1}, {1, 5}, 5});
         },
         "its sector 001-004 also belongs to TWO.TXT", "Sector 001-004 belongs to both"},
        {"DUP",
         [](ImageBuilder& b) {
             b.entry({0, 5}, 2, {"DUP", "TXT", {1, 1}, {1, 3}, 3});
         },
         "its sector 001-001 also belongs to ONE.TXT",
         "Sector 001-001 belongs to both ONE.TXT and DUP.TXT"},
        {"X",
         [](ImageBuilder& b) {
             // The directory goes on into track 3; X claims that sector.
             b.setLink({0, 10}, {3, 10}).setLink({3, 10}, {0, 0}).setLink({3, 9}, {0, 0});
             b.sir({.firstFree = {1, 6}, .lastFree = {3, 9}, .freeCount = 24});
             b.entry({0, 5}, 2, {"X", "TXT", {3, 10}, {3, 10}, 1});
         },
         "its sector 003-010 also belongs to the directory",
         "Sector 003-010 belongs to both the directory and X.TXT"},
        {"ONE",
         [](ImageBuilder& b) {
             b.entry({0, 5}, 0, {"ONE", "TXT", {1, 1}, {1, 3}, 60000});
         },
         "its chain holds 3 sectors, the directory says 60000",
         "ONE.TXT: the chain holds 3 sectors, the directory says 60000"},
    };
    for (const Case& c : cases) {
        ImageBuilder b = ImageBuilder::formatted(4, 10);
        b.addFile("ONE", "TXT", data(3, '1'));
        b.addFile("TWO", "TXT", data(2, '2'));
        c.damage(b);
        Opened o = open(b);
        const dw::Status status = dw::deleteFile(*o.image, c.file, "TXT");
        EXPECT_EQ(status.code(), dw::ErrorCode::Damaged) << c.refusal;
        EXPECT_EQ(status.text(), std::string(c.file) + ".TXT was not deleted: " + c.refusal +
                                     "; nothing was changed");
        EXPECT_EQ(readFileBytes(o.path), b.bytes()) << c.refusal;
        EXPECT_NE(findings(*o.image).find(c.finding), std::string::npos) << findings(*o.image);
    }
}
