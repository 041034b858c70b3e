#include "engine/Journal.h"
#include "engine/Check.h"
#include "engine/Create.h"
#include "engine/Delete.h"
#include "engine/Directory.h"
#include "engine/Import.h"
#include "tests/support/Answers.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/KilledChild.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace dwtest;
using ::testing::HasSubstr;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

namespace {

constexpr int Spt = 10;

Bytes filled(std::size_t size, std::uint8_t seed) {
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 252);
    return data;
}

// Opens the image at `path` and runs `change` on it, as a front end does; true when all went well.
bool onImage(const std::string& path, const std::function<bool(dw::DiskImage&)>& change) {
    std::unique_ptr<dw::DiskImage> image;
    return dw::DiskImage::open(path, image).ok() && change(*image);
}

bool importBinary(dw::DiskImage& image, const std::vector<std::string>& hosts) {
    // One change for the whole command, as the command-line tool and the window hold it.
    dw::ImageChange change(image);
    dw::ImportOptions options;
    options.mode = dw::ImportMode::Binary;
    Answers yes(Answer::Yes);
    dw::ImportSession session(image, options, yes);
    for (const std::string& host : hosts)
        if (!session.importFile(host).committed)
            return false;
    return change.commit().ok();
}

// The image file as any other program reads it: without the journal.
std::string findingsOnDisk(const std::string& path) {
    Bytes bytes = readFileBytes(path);
    std::string all;
    for (const std::string& finding :
         dw::checkImage(*dw::DiskImage::inMemory(bytes, true)).findings)
        all += finding + "\n";
    return all;
}

// The image's bytes with the data bytes of the sectors free in `original` blanked: those are
// the only bytes an interrupted change may leave behind once it is undone.
Bytes masked(Bytes bytes, const Bytes& original) {
    const std::size_t sir = 2 * 256 + 16;
    int track = original[sir + 13], sector = original[sir + 14];
    for (int n = 0; track != 0 && n < 10000; ++n) {
        const std::size_t at = layoutOffset({}, Spt, {track, sector});
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(at + 2),
                  bytes.begin() + static_cast<std::ptrdiff_t>(at + 256), 0);
        track = original[at];
        sector = original[at + 1];
    }
    return bytes;
}

// Three files, and the data of a deleted one in the 3 free sectors.
ImageBuilder threeFiles() {
    ImageBuilder b = ImageBuilder::formatted(3, Spt); // 20 data sectors
    b.addFile("A", "DAT", filled(5 * 252, 1));
    b.addFile("B", "DAT", filled(4 * 252, 2));
    b.addFile("OLD", "DAT", filled(8 * 252, 3));
    for (int sector = 8; sector <= 10; ++sector)
        b.setData({2, sector}, filled(252, 9));
    return b;
}

} // namespace

// A kill -9 or a power cut at every write of a change, then any following command: one that
// opens the image to read it (killed in turn at every write of its rollback), or a read or a
// change by a program that had the image open all along. The file on disk is then either as it
// was (save the data of sectors that were free), or as an uninterrupted run leaves it, and sound.
TEST(Journal, EveryKillPointLeavesTheImageAsItWas) {
    ImageBuilder b = threeFiles();
    const fs::path folder = tempFolder("journal");
    std::vector<std::string> hosts;
    for (int i = 0; i < 3; ++i) {
        hosts.push_back((folder / ("N" + std::to_string(i) + ".DAT")).string());
        writeFileBytes(hosts.back(), filled(252 / 2 + 1, static_cast<std::uint8_t>(10 + i)));
    }
    const std::string bigHost = (folder / "OLD.DAT").string();
    writeFileBytes(bigHost, filled(9 * 252, 4));

    // Changes on the image, as a front end runs them.
    struct Scenario {
        const char* what;
        std::function<bool(dw::DiskImage&)> change;
    };
    const Scenario scenarios[] = {
        {"three imports in one change",
         [&](dw::DiskImage& image) { return importBinary(image, hosts); }},
        {"two deletions in one change",
         [](dw::DiskImage& image) {
             dw::ImageChange change(image);
             return dw::deleteFile(image, "A", "DAT").ok() &&
                    dw::deleteFile(image, "OLD", "DAT").ok() && change.commit().ok();
         }},
        // The new OLD.DAT takes the 3 free sectors and 6 of the old file's own: undone, the old
        // file must be whole again.
        {"a replacement that reuses the replaced file's sectors",
         [&](dw::DiskImage& image) {
             dw::ImportOptions options;
             options.mode = dw::ImportMode::Binary;
             Answers yes(Answer::Yes);
             return dw::importFile(image, bigHost, options, yes).committed;
         }},
    };
    auto reads = [](dw::DiskImage& image) {
        dw::ImageRead hold(image);
        dw::Listing listing;
        return hold.status().ok() && dw::readListing(image, listing).ok();
    };
    int killPoints = 0;
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.what);
        const std::string path = (folder / "disk.dsk").string();
        const std::string journal = dw::journalPathFor(path);
        // The bytes of an uninterrupted run.
        b.save(path);
        ASSERT_TRUE(onImage(path, s.change));
        const Bytes completed = readFileBytes(path);
        ASSERT_EQ(findingsOnDisk(path), "");

        bool finished = false;
        for (long kill = 1; !finished && kill < 100; ++kill) {
            SCOPED_TRACE("killed at write " + std::to_string(kill));
            b.save(path);
            std::unique_ptr<dw::DiskImage> open; // a window that shows the image meanwhile
            ASSERT_TRUE(dw::DiskImage::open(path, open).ok());
            const int status = inChild(kill, [&] { return onImage(path, s.change); });
            ASSERT_TRUE(status == Killed || status == 0) << status;
            finished = status == 0;
            if (finished) {
                EXPECT_EQ(readFileBytes(path), completed);
                EXPECT_FALSE(fs::exists(journal));
                break;
            }
            ++killPoints;
            if (kill % 3 == 1) {
                EXPECT_TRUE(reads(*open));
            } else if (kill % 3 == 2) {
                dw::ImageChange change(*open);
                EXPECT_TRUE(change.status().ok() && change.commit().ok());
            } else {
                open.reset();
                bool recovered = false;
                for (long again = 1; !recovered && again < 100; ++again) {
                    const int recovery = inChild(again, [&] { return onImage(path, reads); });
                    ASSERT_TRUE(recovery == Killed || recovery == 0) << recovery;
                    recovered = recovery == 0;
                }
            }
            EXPECT_FALSE(fs::exists(journal));
            const Bytes after = readFileBytes(path);
            EXPECT_TRUE(after == completed ||
                        masked(after, b.bytes()) == masked(b.bytes(), b.bytes()))
                << "neither undone nor complete";
            EXPECT_EQ(findingsOnDisk(path), "");
        }
        EXPECT_TRUE(finished);
    }
    // Each change: the journal, at least the SIR and a directory sector, and the removal.
    EXPECT_GE(killPoints, 3 * 4);
    RecordProperty("killPoints", killPoints);
}

// Opened read-only, an interrupted image reads as it was and stays as it is, and says the file
// stays torn; opened for writing it is put back, and each says so once. A journal cut short was
// never acted on: it goes.
TEST(Journal, InterruptedImageOpenedReadOnlyOrForWriting) {
    ImageBuilder b = threeFiles();
    const std::string path = b.save(tempPath("interrupted.dsk"));
    const std::string journal = dw::journalPathFor(path);
    auto remove = [&] {
        return onImage(path, [](dw::DiskImage& image) {
            dw::ImageChange change(image);
            return dw::deleteFile(image, "A", "DAT").ok() && dw::deleteFile(image, "B", "DAT").ok();
        });
    };
    // Write 1 is the journal, write 2 the SIR; killed at write 3, the directory's, the image is
    // torn.
    ASSERT_EQ(inChild(3, remove), Killed);
    const Bytes torn = readFileBytes(path);
    ASSERT_NE(torn, b.bytes());
    ASSERT_TRUE(fs::exists(journal));

    std::unique_ptr<dw::DiskImage> image;
    ASSERT_TRUE(dw::DiskImage::openReadOnly(path, image).ok());
    EXPECT_NE(image->takeNotice().find("read as it was before that change, and nothing was "
                                       "written: the file itself stays as the change left it"),
              std::string::npos);
    Bytes seen(torn.size());
    ASSERT_TRUE(image->readAt(0, seen).ok());
    EXPECT_EQ(seen, b.bytes());
    EXPECT_EQ(image->takeNotice(), "");
    image.reset();
    EXPECT_EQ(readFileBytes(path), torn);
    EXPECT_TRUE(fs::exists(journal));

    ASSERT_TRUE(dw::DiskImage::open(path, image).ok());
    EXPECT_NE(image->takeNotice().find("has been undone"), std::string::npos);
    EXPECT_FALSE(fs::exists(journal));
    EXPECT_EQ(readFileBytes(path), b.bytes());
    image.reset();

    // Killed half-way through writing the journal: the image was never touched.
    ASSERT_EQ(inChild(1, remove), Killed);
    ASSERT_TRUE(fs::exists(journal));
    EXPECT_EQ(readFileBytes(path), b.bytes());
    ASSERT_TRUE(dw::DiskImage::open(path, image).ok());
    EXPECT_EQ(image->takeNotice(), "");
    EXPECT_FALSE(fs::exists(journal));

    // A journal that cannot be written refuses the change before a byte of the image is written,
    // the new file's data in the free sectors included.
    const std::string host = (tempFolder("host") / "NEW.DAT").string();
    writeFileBytes(host, filled(3 * 252, 4));
    {
        dw::ImageChange change(*image);
        ASSERT_TRUE(importBinary(*image, {host}));
        fs::create_directory(journal); // its name is taken
        EXPECT_THAT(change.commit().text(), HasSubstr("Unable to write the rollback journal"));
    }
    image.reset();
    fs::remove(journal);
    EXPECT_EQ(readFileBytes(path), b.bytes());
}

// A journal is applied only to its own image: beside another one that took the path (the same
// length, copied there or made by create) it is kept as IMAGE-journal.stale, numbered when that
// name is taken, and the image is left as it is. A journal of the first format, without hashes,
// is still applied by the length alone.
TEST(Journal, AJournalOfAnotherImageIsSetAside) {
    ImageBuilder b = threeFiles();
    const std::string path = tempPath("replaced.dsk");
    const std::string journal = dw::journalPathFor(path);
    auto interrupted = [&] {
        b.save(path);
        return inChild(3, [&] {
            return onImage(
                path, [](dw::DiskImage& image) { return dw::deleteFile(image, "A", "DAT").ok(); });
        });
    };
    ASSERT_EQ(interrupted(), Killed);
    ImageBuilder other = ImageBuilder::formatted(3, Spt, "OTHER");
    other.addFile("NEW", "DAT", filled(2 * 252, 7));
    other.save(path);
    const Bytes journalBytes = readFileBytes(journal);
    std::unique_ptr<dw::DiskImage> image;
    ASSERT_TRUE(dw::DiskImage::open(path, image).ok());
    EXPECT_EQ(image->takeNotice(), path + ": " + journal +
                                       " belongs to another image and was not applied; it is "
                                       "kept as " +
                                       journal + ".stale, and the image is as it was");
    EXPECT_EQ(readFileBytes(path), other.bytes());
    EXPECT_EQ(readFileBytes(journal + ".stale"), journalBytes);
    image.reset();

    ASSERT_EQ(interrupted(), Killed);
    dw::NullProgress progress;
    dw::FormatParameters p;
    p.tracks = 3;
    std::string notice;
    ASSERT_TRUE(dw::createImageFile(path, p, dw::currentLocalDate(), progress, true, &notice).ok());
    EXPECT_EQ(notice, path + ": " + journal + " belongs to the file it replaced; it is kept as " +
                          journal + ".stale.1");
    EXPECT_EQ(readFileBytes(journal + ".stale"), journalBytes);
    EXPECT_FALSE(fs::exists(journal));

    // The first format: the bytes, checked by the length and an FNV-1a sum.
    b.save(path);
    Bytes first{'D', 'W', 'J', 'R', 'N', 'L', '0', '1'};
    auto put = [&](std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            first.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    };
    put(b.bytes().size(), 8);
    put(1, 4);
    put(512, 8); // the SIR's sector, as it was
    put(256, 4);
    first.insert(first.end(), b.bytes().begin() + 512, b.bytes().begin() + 768);
    std::uint64_t sum = 14695981039346656037ull;
    for (std::uint8_t byte : first)
        sum = (sum ^ byte) * 1099511628211ull;
    put(sum, 8);
    first.insert(first.end(), {'D', 'W', 'J', 'R', 'N', 'L', 'O', 'K'});
    writeFileBytes(journal, first);
    Bytes changed = b.bytes();
    changed[512 + 16] = 'X'; // the label
    writeFileBytes(path, changed);
    ASSERT_TRUE(dw::DiskImage::open(path, image).ok());
    EXPECT_NE(image->takeNotice().find("has been undone"), std::string::npos);
    EXPECT_EQ(readFileBytes(path), b.bytes());
}

// Writes only go through a change, which holds them until it commits and leaves no journal.
TEST(Journal, WritesNeedAChange) {
    ImageBuilder b = ImageBuilder::formatted(3, Spt);
    const std::string path = b.save(tempPath("outside.dsk"));
    std::unique_ptr<dw::DiskImage> image;
    ASSERT_TRUE(dw::DiskImage::open(path, image).ok());
    dw::SystemInformationRecord sir;
    ASSERT_TRUE(image->readSir(sir).ok());
    EXPECT_EQ(image->writeSir(sir).code(), dw::ErrorCode::WriteFailed);
    {
        dw::ImageChange change(*image);
        ASSERT_TRUE(change.status().ok());
        sir.volumeNumber = 7;
        ASSERT_TRUE(image->writeSir(sir).ok());
        EXPECT_EQ(readFileBytes(path), b.bytes());
    }
    EXPECT_EQ(readFileBytes(path)[2 * 256 + 16 + 11 + 1], 7);
    EXPECT_FALSE(fs::exists(dw::journalPathFor(path)));
}
