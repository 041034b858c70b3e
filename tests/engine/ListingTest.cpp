#include "engine/Directory.h"
#include "engine/Texts.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

#include <random>

using namespace dwtest;

namespace {

dw::Status list(ImageBuilder& b, dw::Listing& listing) {
    std::unique_ptr<dw::DiskImage> image;
    dw::Status status = dw::DiskImage::open(b.save(tempPath("list.dsk")), image);
    EXPECT_TRUE(status.ok()) << status.text();
    return dw::readListing(*image, listing);
}

std::vector<std::string> names(const dw::Listing& listing) {
    std::vector<std::string> result;
    for (const auto& e : listing.entries)
        result.push_back(e.name() + "." + e.ext());
    return result;
}

} // namespace

TEST(Format, YearRuleDatesAndOffsets) {
    EXPECT_EQ(dw::fullYear(5), 2005);
    EXPECT_EQ(dw::fullYear(69), 2069);
    EXPECT_EQ(dw::fullYear(70), 1970);
    EXPECT_EQ(dw::fullYear(105), 2005);
    EXPECT_EQ(dw::fullYear(126), 2026);
    EXPECT_EQ(dw::yearByte(2026), 26); // two digits, as FLEX writes them
    EXPECT_EQ(dw::yearByte(1999), 99);
    EXPECT_EQ(dw::dateText(99, 12, 31), "1999-12-31");
    EXPECT_EQ(dw::dateText(3, 1, 2), "2003-01-02");
    const dw::ImageLayout plain18{18, 18, 0, true};
    EXPECT_EQ(plain18.SectorOffset({1, 1}), 4608u);
    EXPECT_EQ(plain18.SectorOffset({0, 5}), 1024u);
    EXPECT_EQ(dw::ImageLayout({10, 10, 0, true}).SectorOffset({0, 3}), 512u);
}

TEST(Listing, VolumeTextsAndFullWidthFields) {
    ImageBuilder b = ImageBuilder::formatted(35, 10);
    SirSpec sir;
    sir.label = "ELEVENCHARS";
    sir.volumeNumber = 1;
    sir.freeCount = 0x0100;
    sir.month = 12, sir.day = 31, sir.year = 99;
    b.sir(sir);
    b.entry({0, 5}, 0, {"ABCDEFGH", "TXT", {1, 1}, {1, 3}, 0x0102, 1, 1, 2, 3});
    dw::Listing listing;
    ASSERT_TRUE(list(b, listing).ok());
    EXPECT_EQ(dw::volumeLabelText(listing.sir), "ELEVENCHARS [1]");
    EXPECT_EQ(dw::creationDateText(listing.sir), "1999-12-31");
    EXPECT_EQ(dw::remainingSectorsText(listing.sir.freeSectorCount), "   256");
    EXPECT_EQ(dw::fileCountText(1), "    1");
    ASSERT_EQ(listing.entries.size(), 1u);
    dw::RowTexts row = dw::rowTexts(listing.entries[0]);
    EXPECT_EQ(row,
              (dw::RowTexts{"ABCDEFGH", "TXT", "Y", "2003-01-02", "001-001", "001-003", "   258"}));
}

TEST(Listing, DeletedEntriesEndMarkersAndChains) {
    ImageBuilder b = ImageBuilder::formatted(35, 10);
    b.entry({0, 5}, 0, {"ONE", "TXT"});
    b.rawEntry({0, 5}, 1, {0xFF, 'O', 'L', 'D'});
    b.rawEntry({0, 5}, 2, {0x80 | 'X', 'Y'});
    b.entry({0, 5}, 3, {"TWO", ""});
    for (int k = 0; k < 10; ++k)
        b.entry({0, 6}, k, {"F" + std::to_string(k), "BIN"});
    b.entry({0, 7}, 0, {"LAST", "CMD"});
    dw::Listing listing;
    // Sector 5 ends at slot 4 (byte 0 is 0): nothing after it counts, whatever follows.
    ASSERT_TRUE(list(b, listing).ok());
    EXPECT_EQ(names(listing), (std::vector<std::string>{"ONE.TXT", "TWO."}));

    // Filling sector 5 carries the walk on through the chain.
    for (int k = 4; k < 10; ++k)
        b.rawEntry({0, 5}, k, {0xE5});
    ASSERT_TRUE(list(b, listing).ok());
    EXPECT_EQ(listing.entries.size(), 13u);
    EXPECT_EQ(names(listing).back(), "LAST.CMD");

    // A link with sector byte 0 ends the chain, even when the track byte is not 0.
    b.setLink({0, 6}, {3, 0});
    ASSERT_TRUE(list(b, listing).ok());
    EXPECT_EQ(listing.entries.size(), 12u);
}

TEST(Listing, DamagedChainsEndTheWalkWithAMessage) {
    ImageBuilder b = ImageBuilder::formatted(35, 10);
    for (int k = 0; k < 10; ++k) {
        b.entry({0, 5}, k, {"A" + std::to_string(k), "X"});
        b.entry({0, 6}, k, {"B" + std::to_string(k), "X"});
    }
    b.setLink({0, 6}, {0, 5}); // loops back
    dw::Listing listing;
    dw::Status status = list(b, listing);
    EXPECT_EQ(status.code(), dw::ErrorCode::Damaged);
    EXPECT_NE(status.text().find("000-005"), std::string::npos) << status.text();
    EXPECT_EQ(listing.entries.size(), 20u);

    b.setLink({0, 6}, {200, 3}); // outside the image
    status = list(b, listing);
    EXPECT_EQ(status.code(), dw::ErrorCode::Damaged);
    EXPECT_EQ(listing.entries.size(), 20u);

    b.setLink({0, 6}, {0, 11}); // beyond the sectors of a track
    EXPECT_EQ(list(b, listing).code(), dw::ErrorCode::Damaged);
}

TEST(Listing, RefusesImagesWithoutAUsableSir) {
    ImageBuilder zero = ImageBuilder::formatted(35, 10);
    zero.bytes()[551] = 0;
    dw::Listing listing;
    EXPECT_EQ(list(zero, listing).code(), dw::ErrorCode::BadImage);

    ImageBuilder shortImage = ImageBuilder::formatted(35, 10);
    shortImage.bytes().resize(1100); // SIR present, sector 5 cut off
    EXPECT_EQ(list(shortImage, listing).code(), dw::ErrorCode::BadImage);
    shortImage.bytes().resize(100);
    EXPECT_EQ(list(shortImage, listing).code(), dw::ErrorCode::BadImage);
}

TEST(Listing, NeverWritesAndSurvivesRandomBytes) {
    std::mt19937 random(1234);
    for (int round = 0; round < 300; ++round) {
        ImageBuilder b(1 + static_cast<int>(random() % 8), 5 + static_cast<int>(random() % 20));
        for (auto& byte : b.bytes())
            byte = static_cast<std::uint8_t>(random());
        b.bytes()[551] = static_cast<std::uint8_t>(b.sectorsPerTrack());
        const std::string path = b.save(tempPath("random.dsk"));
        const auto before = readFileBytes(path);
        std::unique_ptr<dw::DiskImage> image;
        ASSERT_TRUE(dw::DiskImage::open(path, image).ok());
        dw::Listing listing;
        dw::Status status = dw::readListing(*image, listing);
        EXPECT_TRUE(status.ok() || status.code() == dw::ErrorCode::Damaged ||
                    status.code() == dw::ErrorCode::BadImage);
        image.reset();
        EXPECT_EQ(readFileBytes(path), before);
    }
}
