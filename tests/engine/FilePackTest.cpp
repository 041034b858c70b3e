#include "engine/FilePack.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using Bytes = std::vector<std::uint8_t>;

// Any files come back as they went; every shorter block and a block with a byte more are
// refused whole.
TEST(FilePack, RoundTripsAndRefusesAnyOtherLength) {
    std::mt19937 rng(7);
    auto text = [&](std::size_t size) { return std::string(size, char(1 + rng() % 255)); };
    for (int round = 0; round < 50; ++round) {
        std::vector<dw::PackedFile> files(rng() % 4);
        for (dw::PackedFile& f : files) {
            f = {text(1 + rng() % 8), text(rng() % 4),  rng() % 2 == 0,          int(rng() % 65536),
                 int(rng() % 256),    int(rng() % 256), Bytes(252 * (rng() % 4))};
            std::generate(f.data.begin(), f.data.end(), [&] { return std::uint8_t(rng()); });
        }
        Bytes block = dw::packFiles(files);
        std::vector<dw::PackedFile> back;
        ASSERT_TRUE(dw::unpackFiles(block, back).ok());
        EXPECT_EQ(back, files);
        for (std::size_t cut = 0; cut < block.size(); ++cut)
            EXPECT_FALSE(dw::unpackFiles(std::span(block).first(cut), back).ok()) << cut;
        EXPECT_TRUE(back.empty());
        block.push_back(0);
        EXPECT_FALSE(dw::unpackFiles(block, back).ok());
    }
}

TEST(FilePack, RefusesOtherFormatsAndDamagedEntries) {
    const dw::PackedFile one{"NAME", "T"};
    const Bytes good = dw::packFiles(std::span(&one, 1));
    const std::tuple<std::size_t, std::uint8_t, const char*> cases[] = {
        {0, 'X', "is not Diskwright's"},
        {4, 2, "is of another version of Diskwright (format 2)"},
        {8, 2, "ends inside file 2"},                     // the count
        {9, 0, "has a damaged entry for file 1"},         // an empty name
        {9 + 5, 'X', "has a damaged entry for file 1"},   // a byte after the name's NUL
        {9 + 11, 0x02, "has a damaged entry for file 1"}, // an unknown flag
        {9 + 17, 1, "ends inside file 1"},                // a sector the block lacks
    };
    for (const auto& [at, value, says] : cases) {
        Bytes block = good;
        block[at] = value;
        std::vector<dw::PackedFile> back;
        EXPECT_EQ(dw::unpackFiles(block, back).text(),
                  std::string("the dragged files' data ") + says);
    }
}

// A row's file as the binary export reads it (text unconverted), with the date of its row.
TEST(FilePack, ReadsTheFileOfARow) {
    dwtest::ImageBuilder b = dwtest::ImageBuilder::formatted(4, 10);
    const Bytes data(252, 0x09); // space-compression markers, which text mode would expand
    b.addFile("TABS", "TXT", data);
    const std::unique_ptr<dw::DiskImage> image = dw::DiskImage::inMemory(b.bytes(), true);
    dw::PackedFile read;
    ASSERT_TRUE(dw::readPackedFile(*image, {"TABS", "TXT", false, {1, 1}, 1}, "2026-12-31", read)
                    .status.ok());
    EXPECT_EQ(read, (dw::PackedFile{"TABS", "TXT", false, 2026, 12, 31, data}));
}
