// Images laid out with a track 0 of fewer sectors and with a header before the sectors: found
// from the file's length, and every operation reads and writes them where their bytes lie.

#include "engine/Check.h"
#include "engine/Create.h"
#include "engine/Delete.h"
#include "engine/Directory.h"
#include "engine/Extract.h"
#include "engine/Import.h"
#include "tests/support/Answers.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <tuple>

using namespace dwtest;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes padded(Bytes data) {
    data.resize((data.size() + 251) / 252 * 252, 0);
    return data;
}

void expectClean(dw::DiskImage& image, const std::string& when) {
    const dw::CheckReport report = dw::checkImage(image);
    for (const std::string& finding : report.findings)
        ADD_FAILURE() << when << ": " << finding;
}

} // namespace

TEST(Layout, FoundFromTheLength) {
    struct Case {
        std::uint64_t length;
        std::uint32_t header;
        int maxTrack, maxSector;
        int trackZero; // expected
        bool fits;
    };
    const Case cases[] = {
        {80 * 36 * 256, 0, 79, 36, 36, true},             // plain
        {733184, 0, 79, 36, 20, true},                    // 16 sectors short: track 0 of 20
        {80 * 36 * 256 - 31 * 256, 0, 79, 36, 5, true},   // track 0 keeps 5 sectors
        {80 * 36 * 256 - 32 * 256, 0, 79, 36, 36, false}, // 4 would be too few
        {80 * 36 * 256 - 36 * 256, 0, 79, 36, 36, false}, // a whole track short
        {80 * 36 * 256 - 100, 0, 79, 36, 36, false},      // cut inside a sector
        {80 * 36 * 256 + 512, 0, 79, 36, 36, true},       // longer: trailing sectors
        {128 + 80 * 36 * 256, 128, 79, 36, 36, true},     // header
        {255 + 733184, 255, 79, 36, 20, true},            // header and short track 0
        {10 * 10 * 256 - 5 * 256, 0, 9, 10, 5, true},     // small geometry
    };
    for (const Case& c : cases) {
        const dw::ImageLayout layout =
            dw::layoutForLength(c.length, c.header, static_cast<std::uint8_t>(c.maxTrack),
                                static_cast<std::uint8_t>(c.maxSector));
        EXPECT_EQ(layout.fitsLength, c.fits) << c.length;
        if (c.fits) {
            EXPECT_EQ(layout.trackZeroSectors, c.trackZero) << c.length;
            const std::uint64_t plain =
                c.header + std::uint64_t(c.maxTrack + 1) * c.maxSector * 256;
            EXPECT_EQ(layout.lengthFor(static_cast<std::uint8_t>(c.maxTrack)),
                      std::min(c.length, plain))
                << c.length;
        }
    }
    // Track 0 sector 5 and track 1 sector 1 of the collection's 20-sector track 0 on 36.
    const dw::ImageLayout shortZero = dw::layoutForLength(733184, 0, 79, 36);
    EXPECT_EQ(shortZero.SectorOffset({0, 5}), 1024u);
    EXPECT_EQ(shortZero.SectorOffset({1, 1}), 20u * 256);
    EXPECT_EQ(shortZero.SectorOffset({2, 3}), (20u + 36 + 2) * 256);
    EXPECT_FALSE(shortZero.hasSector({0, 21}));
    EXPECT_TRUE(shortZero.hasSector({1, 36}));
}

// Every operation on each layout, in memory and on file; the engine's results compare with what
// the test reads byte by byte.
TEST(Layout, EveryOperationRoundTripsOnEachLayout) {
    const Bytes text = {'H', 'E', 'L', 'L', 'O', 0x09, 3, 'X', 0x0D, 'B', 'Y', 'E', 0x0D};
    Bytes program(600);
    for (std::size_t i = 0; i < program.size(); ++i)
        program[i] = static_cast<std::uint8_t>(i * 7);
    struct Case {
        int tracks, spt;
        Layout layout;
        bool inMemory;
    };
    const Case cases[] = {{40, 36, {}, false},
                          {80, 36, {20, 0}, false}, // as the 6809 collection's system disk
                          {35, 18, {10, 0}, true},
                          {35, 10, {0, 100}, true},
                          {40, 36, {20, 255}, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE("layout " + std::to_string(c.layout.trackZeroSectors) + "/" +
                     std::to_string(c.layout.headerBytes));
        ImageBuilder b = ImageBuilder::formatted(c.tracks, c.spt, "LAYOUT", c.layout);
        b.addFile("README", "TXT", text);
        b.addFile("PROG", "BIN", program);
        Bytes bytes = b.bytes();
        const Bytes header(bytes.begin(), bytes.begin() + c.layout.headerBytes);
        std::unique_ptr<dw::DiskImage> image;
        std::string path;
        if (c.inMemory) {
            image = dw::DiskImage::inMemory(bytes, false);
        } else {
            path = b.save(tempPath("layout.dsk"));
            ASSERT_TRUE(dw::DiskImage::open(path, image).ok());
        }
        auto current = [&] { return c.inMemory ? bytes : readFileBytes(path); };

        dw::Listing listing;
        ASSERT_TRUE(dw::readListing(*image, listing).ok());
        EXPECT_EQ(image->layout().trackZeroSectors, b.trackZeroSectors());
        EXPECT_EQ(image->layout().headerBytes, static_cast<std::uint32_t>(c.layout.headerBytes));
        ASSERT_EQ(listing.entries.size(), 2u);
        EXPECT_EQ(listing.sir.label(), "LAYOUT");
        expectClean(*image, "as built");

        // Export: binary matches the byte-level read; text expands and adds line feeds.
        for (const dw::DirectoryEntry& e : listing.entries) {
            dw::ExtractOptions binary;
            binary.forceMode = dw::TransferMode::Binary;
            std::ostringstream out;
            ASSERT_TRUE(dw::ExtractFile(*image, e.startLink, e.sectorCount, false, binary, out)
                            .status.ok());
            const std::string got = out.str();
            EXPECT_EQ(
                Bytes(got.begin(), got.end()),
                readChain(current(), c.layout, c.spt, {e.startLink.track, e.startLink.sector}))
                << e.name();
        }
        std::ostringstream readme;
        ASSERT_TRUE(dw::ExtractFile(*image, listing.entries[0].startLink, 1, false, {}, readme)
                        .status.ok());
        EXPECT_EQ(readme.str().substr(0, 14), "HELLO   X\r\nBYE");

        // Import: the new file lies where a byte-level reader finds it.
        const std::string host = tempPath("note.txt");
        const Bytes note(700, 'n');
        writeFileBytes(host, note);
        Answers questions(Answer::Unexpected);
        dw::ImportOptions options;
        options.mode = dw::ImportMode::Binary;
        const dw::ImportResult imported =
            dw::importFile(*image, host, options, questions, "NOTE.TXT");
        ASSERT_TRUE(imported.committed) << imported.status.text();
        ASSERT_TRUE(dw::readListing(*image, listing).ok());
        ASSERT_EQ(listing.entries.size(), 3u);
        const dw::SectorLink start = listing.entries[2].startLink;
        EXPECT_EQ(readChain(current(), c.layout, c.spt, {start.track, start.sector}), padded(note));
        expectClean(*image, "after the import");

        // Delete: the freed sectors go back to the free chain.
        ASSERT_TRUE(dw::deleteFile(*image, "PROG", "BIN").ok());
        expectClean(*image, "after the deletion");
        ASSERT_TRUE(dw::readListing(*image, listing).ok());
        EXPECT_EQ(listing.entries.size(), 2u);
        EXPECT_EQ(listing.sir.freeSectorCount, (c.tracks - 1) * c.spt - 1 - 3);

        // The header is never written, and the length never changes.
        const Bytes after = current();
        EXPECT_EQ(after.size(), b.bytes().size());
        EXPECT_EQ(Bytes(after.begin(), after.begin() + c.layout.headerBytes), header);
    }
}

// A new image with a track 0 of its own size is what the builder makes of that layout, and
// reads back with it.
TEST(Layout, CreatedWithAShorterTrackZero) {
    dw::FormatParameters p{.tracks = 40,
                           .sectorsPerSide = 18,
                           .includeBootSector = false,
                           .volumeName = "SHORT",
                           .trackZeroSectors = 10};
    const std::string path = tempPath("short.dsk");
    dw::NullProgress progress;
    ASSERT_TRUE(dw::createImageFile(path, p, {2026, 12, 7, 10, 30}, progress, false).ok());
    const Bytes made = readFileBytes(path);

    ImageBuilder b = ImageBuilder::formatted(40, 36, "SHORT", {10, 0});
    b.sir({.label = "SHORT",
           .volumeNumber = 0,
           .firstFree = {1, 1},
           .lastFree = {39, 36},
           .freeCount = 39 * 36,
           .month = 12,
           .day = 7,
           .year = 26}); // two digits
    ASSERT_EQ(made.size(), (10u + 39 * 36) * 256);
    EXPECT_EQ(made, b.bytes());

    std::unique_ptr<dw::DiskImage> image;
    ASSERT_TRUE(dw::DiskImage::open(path, image).ok());
    EXPECT_EQ(image->layout().trackZeroSectors, 10);
    expectClean(*image, "new");

    // From 5 sectors to the others' 36, and only on FLEX.
    for (auto [t0, format, ok] : {std::tuple{4, dw::DiskFormat::Flex, false},
                                  {37, dw::DiskFormat::Flex, false},
                                  {36, dw::DiskFormat::Flex, true},
                                  {36, dw::DiskFormat::Os9, false}}) {
        p.trackZeroSectors = t0;
        p.format = format;
        EXPECT_EQ(dw::checkFormatLimits(p).code(),
                  ok ? dw::ErrorCode::Ok : dw::ErrorCode::BadGeometry)
            << t0;
    }
}

// Many files in one session give the very image that one import per file gives, and a session
// notices a change made behind its back.
TEST(Layout, ImportSessionMatchesSingleImportsAndFollowsOtherChanges) {
    ImageBuilder b = ImageBuilder::formatted(20, 18, "MANY", {10, 0});
    b.addFile("OLD", "TXT", Bytes(300, 'o'));
    Bytes one = b.bytes();
    Bytes many = b.bytes();
    const std::filesystem::path folder = tempFolder("many");
    std::vector<std::string> hosts;
    // More than the 60 slots of track 0: the directory grows, and the last ones find no room.
    for (int i = 0; i < 70; ++i) {
        hosts.push_back((folder / ("F" + std::to_string(i) + ".TXT")).string());
        writeFileBytes(hosts.back(), Bytes(static_cast<std::size_t>(1 + i * 37),
                                           static_cast<std::uint8_t>('a' + i % 26)));
    }
    Answers quiet;
    dw::ImportOptions options;
    int committed = 0;
    {
        auto image = dw::DiskImage::inMemory(one, false);
        for (const std::string& host : hosts)
            committed += dw::importFile(*image, host, options, quiet).committed ? 1 : 0;
    }
    EXPECT_EQ(committed, 65);
    auto image = dw::DiskImage::inMemory(many, false);
    dw::ImportSession session(*image, options, quiet);
    for (const std::string& host : hosts)
        session.importFile(host);
    EXPECT_EQ(many, one);

    // A deletion outside the session changes the SIR: the session reads the directory again,
    // so F3.TXT no longer exists for it (and its deleted slot is not reused).
    ASSERT_TRUE(dw::deleteFile(*image, "F3", "TXT").ok());
    ASSERT_TRUE(session.importFile(hosts[3]).committed);
    dw::Listing listing;
    ASSERT_TRUE(dw::readListing(*image, listing).ok());
    EXPECT_EQ(listing.entries.back().name(), "F3");

    // Replacements, twice in one session: each reads the chains again after its deletion.
    ASSERT_TRUE(dw::deleteFile(*image, "OLD", "TXT").ok());
    const std::string replaced = hosts[5];
    writeFileText(replaced, std::string(900, 'r'));
    Answers replace(Answer::Yes);
    dw::ImportSession replacing(*image, options, replace);
    EXPECT_TRUE(replacing.importFile(replaced).committed);
    EXPECT_TRUE(replacing.importFile(replaced).committed);
    expectClean(*image, "after the session");
}

// A length that is no multiple of 256 allows a header reading beside the plain one: the reading
// whose SIR and directory make sense wins, and another system's disk is no FLEX image at all.
TEST(Layout, AmbiguousLengthsReadTheWayThatMakesSense) {
    ImageBuilder plain = ImageBuilder::formatted(35, 10);
    plain.addFile("ONE", "TXT", Bytes(600, 'a'));
    ImageBuilder headed = ImageBuilder::formatted(35, 10, "TEST", {0, 90});
    headed.addFile("ONE", "TXT", Bytes(600, 'a'));
    // The bytes that a header reading of 90 bytes takes for a geometry of 1 track of 5 sectors.
    Bytes longer = plain.bytes();
    longer[dw::SirOffset + 90 + 23] = 5;
    Bytes shorter = longer;
    longer.resize(longer.size() + 90);           // extra bytes at the end
    shorter.resize(shorter.size() - (256 - 90)); // cut short inside a sector
    Bytes other = plain.bytes();                 // 100 bytes short, month 67 and day 41
    other.resize(other.size() - 100);
    other[dw::SirOffset + 19] = 67;
    other[dw::SirOffset + 20] = 41;
    struct Case {
        Bytes bytes;
        std::uint32_t header; // expected, or 1 for no FLEX image
    };
    Case cases[] = {{longer, 0}, {shorter, 0}, {headed.bytes(), 90}, {other, 1}};
    for (Case& c : cases) {
        auto image = dw::DiskImage::inMemory(c.bytes, true);
        dw::Listing listing;
        const dw::Status status = dw::readListing(*image, listing);
        if (c.header == 1) {
            EXPECT_EQ(status.code(), dw::ErrorCode::BadImage);
            EXPECT_EQ(status.fact(), "the file is " + std::to_string(c.bytes.size()) +
                                         " bytes long, which fits no layout of its geometry, "
                                         "and its creation date (67/41) is no date");
            continue;
        }
        EXPECT_EQ(image->layout().headerBytes, c.header) << c.bytes.size();
        ASSERT_EQ(listing.entries.size(), 1u) << c.bytes.size();
        EXPECT_EQ(listing.entries[0].name(), "ONE");
    }
}
