#include "engine/Repair.h"
#include "engine/Check.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace dwtest;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

namespace {

// ONE (1/1..1/3) and TWO (1/4..1/5) on a 4-track disk whose directory goes on into 3/10 behind
// its last entry; the free chain is 1/6..3/9.
ImageBuilder twoFiles() {
    ImageBuilder b = ImageBuilder::formatted(4, 10);
    b.addFile("ONE", "TXT", Bytes(3 * 252, '1'));
    b.addFile("TWO", "TXT", Bytes(2 * 252, '2'));
    b.setLink({0, 10}, {3, 10}).setLink({3, 10}, {0, 0}).setLink({3, 9}, {0, 0});
    return b.sir({.firstFree = {1, 6}, .lastFree = {3, 9}, .freeCount = 24});
}

Bytes sectorBytes(const Bytes& image, Link l) {
    const std::size_t at = layoutOffset({}, 10, l);
    return Bytes(image.begin() + static_cast<std::ptrdiff_t>(at),
                 image.begin() + static_cast<std::ptrdiff_t>(at + 256));
}

} // namespace

TEST(Repair, RebuildsTheFreeChainAndLeavesFilesAlone) {
    ImageBuilder b = twoFiles();
    b.setLink({2, 1}, {2, 3}); // 2/2 is lost
    b.setLink({3, 8}, {1, 4}); // and the chain runs on into TWO
    const std::string path = b.save(tempPath("repair.dsk"));
    std::unique_ptr<dw::DiskImage> image;
    ASSERT_TRUE(dw::DiskImage::open(path, image).ok());
    ASSERT_FALSE(dw::checkImage(*image).clean());

    dw::RepairPlan plan;
    {
        dw::ImageChange change(*image);
        ASSERT_TRUE(dw::planRepair(*image, plan).ok());
        EXPECT_TRUE(plan.needed);
        // 2/2, and 3/9 behind the link into TWO; TWO's sectors leave the chain.
        EXPECT_EQ(plan.added, (std::vector<dw::SectorLink>{{2, 2}, {3, 9}}));
        EXPECT_EQ(plan.dropped, (std::vector<dw::SectorLink>{{1, 4}, {1, 5}}));
        EXPECT_EQ(plan.chain.size(), 24u);
        EXPECT_EQ(plan.after.firstFree, (dw::SectorLink{1, 6}));
        EXPECT_EQ(plan.after.lastFree, (dw::SectorLink{3, 9})); // 3/10 stays the directory's
        EXPECT_EQ(plan.after.freeSectorCount, 24);
        const std::string backup = path + ".bak";
        fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
        ASSERT_TRUE(dw::copyImageTo(*image, backup).ok());
        EXPECT_EQ(dw::copyImageTo(*image, backup).code(), dw::ErrorCode::Exists);
        EXPECT_EQ(readFileBytes(backup), b.bytes());
        EXPECT_EQ(fs::status(backup).permissions(), fs::status(path).permissions());
        ASSERT_TRUE(dw::applyRepair(*image, plan).ok());
        ASSERT_TRUE(change.commit().ok());
    }
    const dw::CheckReport report = dw::checkImage(*image);
    for (const std::string& finding : report.findings)
        ADD_FAILURE() << finding;
    const Bytes after = readFileBytes(path);
    for (int s = 1; s <= 10; ++s) // the directory, with 3/10
        EXPECT_EQ(sectorBytes(after, {0, s}), sectorBytes(b.bytes(), {0, s})) << s;
    EXPECT_EQ(sectorBytes(after, {3, 10}), sectorBytes(b.bytes(), {3, 10}));
    for (int s = 1; s <= 5; ++s) // the files
        EXPECT_EQ(sectorBytes(after, {1, s}), sectorBytes(b.bytes(), {1, s})) << s;

    ASSERT_TRUE(dw::planRepair(*image, plan).ok());
    EXPECT_FALSE(plan.needed);
}

TEST(Repair, SoundOrDamagedDirectoriesAreNotRepaired) {
    // Out of address order but whole: kept as it is.
    ImageBuilder sound = twoFiles();
    sound.setLink({3, 9}, {1, 6}).setLink({1, 10}, {0, 0});
    sound.sir({.firstFree = {2, 1}, .lastFree = {1, 10}, .freeCount = 24});
    ImageBuilder loop = twoFiles();
    for (int k = 0; k < 10; ++k)
        loop.entry({0, 5}, k, {"F" + std::to_string(k), "TXT"});
    loop.setLink({0, 5}, {0, 5});
    for (auto [b, code] : {std::pair{&sound, dw::ErrorCode::Ok}, {&loop, dw::ErrorCode::Damaged}}) {
        std::unique_ptr<dw::DiskImage> image;
        ASSERT_TRUE(dw::DiskImage::open(b->save(tempPath("norepair.dsk")), image).ok());
        dw::RepairPlan plan;
        const dw::Status status = dw::planRepair(*image, plan);
        EXPECT_EQ(status.code(), code) << status.text();
        if (status.ok())
            EXPECT_FALSE(plan.needed);
        else
            EXPECT_NE(status.text().find("nothing was repaired"), std::string::npos);
    }
}
