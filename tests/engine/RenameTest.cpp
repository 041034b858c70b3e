#include "engine/Rename.h"
#include "engine/Directory.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

using namespace dwtest;
using Bytes = std::vector<std::uint8_t>;

namespace {

// HELLO.TXT, a lower-case "notes.doc", a deleted NEW.TXT and OTHER.BIN.
ImageBuilder fourEntries() {
    ImageBuilder b = ImageBuilder::formatted(5, 10);
    b.addFile("HELLO", "TXT", Bytes(300, 'h'));
    b.addFile("notes", "doc", Bytes(10, 'n'));
    b.addFile("NEW", "TXT", {});
    b.addFile("OTHER", "BIN", Bytes(10, 'o'));
    b.rawEntry({0, 5}, 2, {0xFF, 'E', 'W', 0, 0, 0, 0, 0, 'T', 'X', 'T'});
    return b;
}

struct Renamed {
    dw::Status status;
    std::string listed; // the names listed afterwards
    Bytes after;        // the image's bytes afterwards
};

Renamed rename(const ImageBuilder& b, const char* from, const char* to, bool readOnly = false) {
    const std::string path = b.save(tempPath("rename.dsk"));
    std::unique_ptr<dw::DiskImage> image;
    EXPECT_TRUE((readOnly ? dw::DiskImage::openReadOnly : dw::DiskImage::open)(path, image).ok());
    Renamed r{dw::renameFile(*image, from, to), {}, {}};
    dw::Listing listing;
    dw::readListing(*image, listing);
    for (const dw::DirectoryEntry& e : listing.entries)
        r.listed += e.name() + "." + e.ext() + " ";
    r.after = readFileBytes(path);
    return r;
}

} // namespace

// A rename writes only the entry's eleven name bytes; a refusal leaves every byte as it was.
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
        {"HELLO.TXT", "HELLO", dw::ErrorCode::InvalidName, "", "HELLO.TXT was not renamed"},
        {"HELLO.TXT", "A.B.C", dw::ErrorCode::InvalidName, "", "nothing was changed"},
        {"HELLO.TXT", ".TXT", dw::ErrorCode::InvalidName, "", "\".TXT\""},
        {"HELLO.TXT", "\xC4X.TXT", dw::ErrorCode::InvalidName, "", "not a FLEX file name"},
        {"NEW.TXT", "FRESH.TXT", dw::ErrorCode::NotFound, "", "NEW.TXT is not on the disk"},
    };
    ImageBuilder b = fourEntries();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.from) + " -> " + c.to);
        const Renamed r = rename(b, c.from, c.to);
        EXPECT_EQ(r.status.code(), c.code) << r.status.text();
        EXPECT_NE(r.status.text().find(c.said), std::string::npos) << r.status.text();
        for (std::size_t i = 0; i < r.after.size(); ++i)
            EXPECT_TRUE(r.after[i] == b.bytes()[i] ||
                        (*c.listed && i >= 4 * 256 + 16 && (i - 4 * 256 - 16) % 24 < 11))
                << i;
        EXPECT_TRUE(!*c.listed || r.listed == c.listed) << r.listed;
    }
}

TEST(Rename, ReadOnlyImagesAndDamagedDirectoriesAreLeftAlone) {
    ImageBuilder b = fourEntries();
    EXPECT_EQ(rename(b, "HELLO.TXT", "BYE.TXT", true).status.text(),
              "The disk image is open read-only; nothing was changed");
    // A full directory sector that links back to itself: a name further on could clash.
    for (int i = 4; i < 10; ++i)
        b.addFile("F" + std::to_string(i), "DAT", {});
    b.setLink({0, 5}, {0, 5});
    const Renamed r = rename(b, "HELLO.TXT", "BYE.TXT");
    EXPECT_EQ(r.status.code(), dw::ErrorCode::Damaged);
    EXPECT_EQ(r.after, b.bytes());
}
