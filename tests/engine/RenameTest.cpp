#include "engine/Rename.h"
#include "engine/Check.h"
#include "engine/Directory.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

using namespace dwtest;
using Bytes = std::vector<std::uint8_t>;

namespace {

// HELLO.TXT, a lower-case "notes.doc", OTHER.BIN, and a deleted NEW.TXT in between.
ImageBuilder threeFiles() {
    ImageBuilder b = ImageBuilder::formatted(5, 10);
    b.addFile("HELLO", "TXT", Bytes(300, 'h'));
    b.addFile("notes", "doc", Bytes(10, 'n'));
    b.addFile("NEW", "TXT", {});
    b.addFile("OTHER", "BIN", Bytes(10, 'o'));
    b.rawEntry({0, 5}, 2, {0xFF, 'E', 'W', 0, 0, 0, 0, 0, 'T', 'X', 'T'});
    return b;
}

std::string names(dw::DiskImage& image) {
    dw::Listing listing;
    EXPECT_TRUE(dw::readListing(image, listing).ok());
    std::string all;
    for (const dw::DirectoryEntry& e : listing.entries)
        all += e.name() + "." + e.ext() + " ";
    return all;
}

} // namespace

// A rename touches only the entry's eleven name bytes; every refusal leaves the image as it was.
TEST(Rename, NewNamesFollowTheFlexRulesAndNeverClash) {
    struct Case {
        const char* from;
        const char* to;
        dw::ErrorCode code;
        const char* listed; // after the rename; empty: the image is unchanged
        const char* said;   // part of the message
    };
    const Case cases[] = {
        {"HELLO.TXT", "greeting.md", dw::ErrorCode::Ok, "GREETING.MD notes.doc OTHER.BIN ", ""},
        {"HELLO.TXT", "NEW.TXT", dw::ErrorCode::Ok, "NEW.TXT notes.doc OTHER.BIN ", ""},
        {"notes.doc", "NOTES.DOC", dw::ErrorCode::Ok, "HELLO.TXT NOTES.DOC OTHER.BIN ", ""},
        {"NOTES.DOC", "memo.doc", dw::ErrorCode::Ok, "HELLO.TXT MEMO.DOC OTHER.BIN ", ""},
        {"HELLO.TXT", "HELLO.TXT", dw::ErrorCode::Ok, "", ""},
        {"HELLO.TXT", "other.bin", dw::ErrorCode::Exists, "", "OTHER.BIN is already on the disk"},
        {"HELLO.TXT", "NINECHARS.TXT", dw::ErrorCode::InvalidName, "", "\"NINECHARS.TXT\""},
        {"HELLO.TXT", "HELLO.TEXT", dw::ErrorCode::InvalidName, "", "HELLO.TXT was not renamed"},
        {"HELLO.TXT", "HELLO", dw::ErrorCode::InvalidName, "", "not a FLEX file name"},
        {"HELLO.TXT", "A.B.C", dw::ErrorCode::InvalidName, "", "nothing was changed"},
        {"HELLO.TXT", ".TXT", dw::ErrorCode::InvalidName, "", "\".TXT\""},
        {"HELLO.TXT", "TAB\t.TXT", dw::ErrorCode::InvalidName, "", "\"TAB\t.TXT\""},
        {"HELLO.TXT", "\xC4X.TXT", dw::ErrorCode::InvalidName, "", "not a FLEX file name"},
        {"NEW.TXT", "FRESH.TXT", dw::ErrorCode::NotFound, "", "NEW.TXT is not on the disk"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.from) + " -> " + c.to);
        ImageBuilder b = threeFiles();
        const std::string path = b.save(tempPath("rename.dsk"));
        std::unique_ptr<dw::DiskImage> image;
        ASSERT_TRUE(dw::DiskImage::open(path, image).ok());
        const dw::Status status = dw::renameFile(*image, c.from, c.to);
        EXPECT_EQ(status.code(), c.code) << status.text();
        EXPECT_NE(status.text().find(c.said), std::string::npos) << status.text();
        const Bytes after = readFileBytes(path);
        if (*c.listed == 0) {
            EXPECT_EQ(after, b.bytes());
            continue;
        }
        EXPECT_EQ(names(*image), c.listed);
        EXPECT_TRUE(dw::checkImage(*image).clean());
        for (std::size_t i = 0; i < after.size(); ++i) {
            if (after[i] != b.bytes()[i]) {
                EXPECT_TRUE(i >= 4 * 256 + 16 && (i - 4 * 256 - 16) % 24 < 11) << i;
            }
        }
    }
}

TEST(Rename, ReadOnlyImagesAndDamagedDirectoriesAreLeftAlone) {
    ImageBuilder b = threeFiles();
    std::string path = b.save(tempPath("rename-ro.dsk"));
    std::unique_ptr<dw::DiskImage> image;
    ASSERT_TRUE(dw::DiskImage::openReadOnly(path, image).ok());
    dw::Status status = dw::renameFile(*image, "HELLO.TXT", "BYE.TXT");
    EXPECT_EQ(status.code(), dw::ErrorCode::ReadOnly);
    EXPECT_EQ(status.text(), "The disk image is open read-only; nothing was changed");

    // A full directory sector that links back to itself: a name further on could clash, so
    // nothing is renamed.
    for (int i = 4; i < 10; ++i)
        b.addFile("F" + std::to_string(i), "DAT", {});
    b.setLink({0, 5}, {0, 5});
    path = b.save(tempPath("rename-loop.dsk"));
    ASSERT_TRUE(dw::DiskImage::open(path, image).ok());
    status = dw::renameFile(*image, "HELLO.TXT", "BYE.TXT");
    EXPECT_EQ(status.code(), dw::ErrorCode::Damaged);
    EXPECT_EQ(readFileBytes(path), b.bytes());
}
