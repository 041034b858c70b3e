#include "engine/Journal.h"
#include "engine/Check.h"
#include "engine/Delete.h"
#include "engine/Import.h"
#include "tests/support/Answers.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/KilledChild.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace dwtest;
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

// The image's bytes with the data bytes of the sectors free at the start blanked: those are
// the only bytes a change may leave behind once it is undone.
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

std::string findings(const std::string& path) {
    std::unique_ptr<dw::DiskImage> image;
    EXPECT_TRUE(dw::DiskImage::openReadOnly(path, image).ok());
    std::string all;
    for (const std::string& finding : dw::checkImage(*image).findings)
        all += finding + "\n";
    return all;
}

} // namespace

// A kill -9 at every write of a change, and again at every write of the rollback that follows:
// the image opened afterwards is as it was, save the data of sectors that were free, and a
// change that ran to its end leaves exactly the bytes of an uninterrupted run.
TEST(Journal, EveryKillPointLeavesTheImageAsItWas) {
    ImageBuilder b = ImageBuilder::formatted(3, Spt); // 20 data sectors
    b.addFile("A", "DAT", filled(5 * 252, 1));
    b.addFile("B", "DAT", filled(4 * 252, 2));
    b.addFile("OLD", "DAT", filled(8 * 252, 3)); // 3 sectors stay free
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
    int killPoints = 0;
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.what);
        const std::string path = (folder / "disk.dsk").string();
        const std::string journal = dw::journalPathFor(path);
        // The bytes of an uninterrupted run.
        b.save(path);
        ASSERT_TRUE(onImage(path, s.change));
        const Bytes completed = readFileBytes(path);
        ASSERT_EQ(findings(path), "");

        const Bytes original = b.bytes();
        bool finished = false;
        for (long kill = 1; !finished && kill < 100; ++kill) {
            SCOPED_TRACE("killed at write " + std::to_string(kill));
            b.save(path);
            const int status = inChild(kill, [&] { return onImage(path, s.change); });
            ASSERT_TRUE(status == Killed || status == 0) << status;
            finished = status == 0;
            if (finished) {
                EXPECT_EQ(readFileBytes(path), completed);
                EXPECT_FALSE(fs::exists(journal));
                break;
            }
            ++killPoints;
            // The rollback itself is killed at each of its writes before one runs to its end.
            bool recovered = false;
            for (long again = 1; !recovered && again < 100; ++again) {
                const int recovery = inChild(
                    again, [&] { return onImage(path, [](dw::DiskImage&) { return true; }); });
                ASSERT_TRUE(recovery == Killed || recovery == 0) << recovery;
                recovered = recovery == 0;
            }
            EXPECT_FALSE(fs::exists(journal));
            const Bytes after = readFileBytes(path);
            EXPECT_TRUE(after == completed || masked(after, original) == masked(original, original))
                << "neither undone nor complete";
            EXPECT_EQ(findings(path), "");
        }
        EXPECT_TRUE(finished);
    }
    // Each change: the journal, at least the SIR and a directory sector, and the removal.
    EXPECT_GE(killPoints, 3 * 4);
    RecordProperty("killPoints", killPoints);
}

// Opened read-only, an interrupted image reads as it was and stays as it is; opened for writing
// it is put back, and each says so once. A journal cut short was never acted on: it goes.
TEST(Journal, InterruptedImageOpenedReadOnlyOrForWriting) {
    ImageBuilder b = ImageBuilder::formatted(3, Spt);
    b.addFile("KEEP", "DAT", filled(3 * 252, 5));
    const std::string path = b.save(tempPath("interrupted.dsk"));
    const std::string journal = dw::journalPathFor(path);
    auto remove = [&] {
        return onImage(
            path, [](dw::DiskImage& image) { return dw::deleteFile(image, "KEEP", "DAT").ok(); });
    };
    // Write 1 is the journal, write 2 the first one to the image.
    ASSERT_EQ(inChild(2, remove), Killed);
    const Bytes torn = readFileBytes(path);
    ASSERT_NE(torn, b.bytes());
    ASSERT_TRUE(fs::exists(journal));

    std::unique_ptr<dw::DiskImage> image;
    ASSERT_TRUE(dw::DiskImage::openReadOnly(path, image).ok());
    EXPECT_NE(image->takeNotice().find("read as it was before"), std::string::npos);
    Bytes seen(torn.size());
    ASSERT_TRUE(image->readAt(0, seen).ok());
    EXPECT_EQ(masked(seen, b.bytes()), masked(b.bytes(), b.bytes()));
    EXPECT_TRUE(dw::checkImage(*image).clean());
    EXPECT_EQ(image->takeNotice(), "");
    image.reset();
    EXPECT_EQ(readFileBytes(path), torn);
    EXPECT_TRUE(fs::exists(journal));

    ASSERT_TRUE(dw::DiskImage::open(path, image).ok());
    EXPECT_NE(image->takeNotice().find("has been undone"), std::string::npos);
    EXPECT_FALSE(fs::exists(journal));
    EXPECT_EQ(masked(readFileBytes(path), b.bytes()), masked(b.bytes(), b.bytes()));
    image.reset();

    // Killed half-way through writing the journal: the image was never touched.
    ASSERT_EQ(inChild(1, remove), Killed);
    ASSERT_TRUE(fs::exists(journal));
    EXPECT_EQ(readFileBytes(path), b.bytes());
    ASSERT_TRUE(dw::DiskImage::open(path, image).ok());
    EXPECT_EQ(image->takeNotice(), "");
    EXPECT_FALSE(fs::exists(journal));
    EXPECT_TRUE(dw::deleteFile(*image, "KEEP", "DAT").ok());
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
