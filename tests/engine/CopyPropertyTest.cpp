// Random files copied between random images whose free chains run in scattered pieces, into
// directories small enough to grow. After every copy the target checks clean, and every file
// copied holds, read byte by byte, the source's bytes, date and flag; a random file's first two
// sectors instead name the data sectors of its new chain. A refused copy changes nothing. Files
// deleted and then undeleted, with nothing between, all come back whole; with copies between,
// those that are called recoverable do.

#include "engine/Check.h"
#include "engine/Delete.h"
#include "engine/Undelete.h"
#include "engine/WriteFile.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>

using namespace dwtest;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Target {
    int tracks = 0;
    int spt = 0;
    Layout layout;
    Bytes bytes;
};

// A formatted image whose free chain runs through pieces of up to three tracks in random order.
Target scatteredTarget(std::mt19937& rng) {
    Target t;
    t.tracks = 3 + static_cast<int>(rng() % 10);
    t.spt = 5 + static_cast<int>(rng() % 12);
    if (rng() % 2 == 0)
        t.layout.trackZeroSectors =
            std::min(t.spt, 5 + static_cast<int>(rng() % 2)); // 10, 20 slots
    ImageBuilder b = ImageBuilder::formatted(t.tracks, t.spt, "TARGET", t.layout);
    std::vector<std::vector<Link>> pieces;
    for (int track = 1; track < t.tracks; ++track)
        for (int sector = 1; sector <= t.spt; ++sector) {
            if (pieces.empty() || rng() % static_cast<unsigned>(3 * t.spt) == 0)
                pieces.emplace_back();
            pieces.back().push_back({track, sector});
        }
    std::shuffle(pieces.begin(), pieces.end(), rng);
    std::vector<Link> free;
    for (const auto& piece : pieces)
        free.insert(free.end(), piece.begin(), piece.end());
    b.chain(free);
    b.sir({"TARGET", 1, free.front(), free.back(), static_cast<int>(free.size())});
    t.bytes = b.bytes();
    return t;
}

// Sixteen files of up to six sectors, a third of them random, with year bytes of any value.
constexpr int SourceFiles = 16;
ImageBuilder randomSource(std::mt19937& rng) {
    ImageBuilder b = ImageBuilder::formatted(12, 10, "SOURCE", {7, 0});
    for (int i = 0; i < SourceFiles; ++i) {
        Bytes data(rng() % (6 * 252 + 1));
        for (std::uint8_t& byte : data)
            byte = static_cast<std::uint8_t>(rng());
        b.addFile("F" + std::to_string(i), i % 2 ? "BIN" : "", data, rng() % 3 == 0);
        b.sector({0, 5 + i / 10})[16 + 24 * (i % 10) + 23] = static_cast<std::uint8_t>(rng());
    }
    return b;
}

class CopyRun {
public:
    CopyRun(std::mt19937& rng) : rng_(rng), target_(scatteredTarget(rng)) {
        source_ = randomSource(rng).bytes();
        sourceImage_ = dw::DiskImage::inMemory(source_, true);
        dw::SystemInformationRecord sir;
        EXPECT_TRUE(sourceImage_->readSir(sir).ok());
        EXPECT_TRUE(dw::SectorMap::build(*sourceImage_, sir, map_).ok());
        image_ = dw::DiskImage::inMemory(target_.bytes, false);
        writer_ = std::make_unique<dw::FileWriter>(*image_);
    }

    void copyOne(bool mayReplace = true) {
        const std::size_t entry = rng_() % SourceFiles;
        dw::WholeFlexFile file;
        ASSERT_TRUE(dw::readWholeFile(*sourceImage_, map_, entry, file).ok());
        const std::string key = file.name.text();
        const bool replace = mayReplace && rng_() % 2 == 0;
        const Bytes before = target_.bytes;
        const dw::WholeFlexFile kept = file;
        // Half through the session, which must notice the one-off writes behind its back.
        const dw::WriteFileResult result = rng_() % 2 == 0
                                               ? writer_->write(std::move(file), replace)
                                               : dw::writeFile(*image_, std::move(file), replace);
        if (!result.status.ok()) {
            const dw::ErrorCode code = result.status.code();
            EXPECT_TRUE(code == dw::ErrorCode::DiskFull ||
                        (code == dw::ErrorCode::Exists && !replace && copied_.count(key)))
                << result.status.text();
            EXPECT_EQ(target_.bytes, before) << "a refused copy wrote";
            return;
        }
        copied_[key] = kept;
    }

    void verify() {
        for (const std::string& finding : dw::checkImage(*image_).findings)
            ADD_FAILURE() << finding;
        const std::vector<EntrySpec> entries =
            liveEntries(target_.bytes, target_.layout, target_.spt);
        ASSERT_EQ(entries.size(), copied_.size());
        for (const EntrySpec& e : entries) {
            const std::string key = e.name + "." + e.ext;
            ASSERT_EQ(copied_.count(key), 1u) << key;
            const dw::WholeFlexFile& want = copied_[key];
            EXPECT_EQ(e.random, want.randomFlag) << key;
            EXPECT_EQ(dw::fullYear(static_cast<std::uint8_t>(e.year)), want.date.year) << key;
            EXPECT_EQ(e.month * 100 + e.day, want.date.month * 100 + want.date.day) << key;
            const std::vector<Link> chain =
                chainLinks(target_.bytes, target_.layout, target_.spt, e.start, e.count + 1u);
            ASSERT_EQ(chain.size(), static_cast<std::size_t>(e.count)) << key;
            Bytes data = readChain(target_.bytes, target_.layout, target_.spt, e.start, e.count);
            ASSERT_EQ(data.size(), want.data.size()) << key;
            const std::size_t mapBytes =
                want.randomFlag ? std::min<std::size_t>(data.size(), 504) : 0;
            EXPECT_TRUE(std::equal(data.begin() + static_cast<std::ptrdiff_t>(mapBytes), data.end(),
                                   want.data.begin() + static_cast<std::ptrdiff_t>(mapBytes)))
                << key;
            if (want.randomFlag) {
                const auto dataSectors = chain.begin() + std::min<std::ptrdiff_t>(e.count, 2);
                EXPECT_TRUE(namedSectors(data) == std::vector<Link>(dataSectors, chain.end()))
                    << key << ": the sector map does not name the new chain";
            }
        }
    }

    // Some files deleted; with `reuse`, files then copied (which may take their sectors) and
    // some of those deleted too. Whatever listDeleted calls recoverable comes back with its own
    // bytes; anything else is refused and changes nothing. Without reuse, everything comes back.
    void deleteAndUndelete(bool reuse) {
        std::map<std::uint32_t, dw::WholeFlexFile> deleted; // by slot
        auto deleteSome = [&] {
            for (auto it = copied_.begin(); it != copied_.end();) {
                if (it->second.name.ext.empty() || rng_() % 2 == 0) {
                    ++it;
                    continue;
                }
                ASSERT_TRUE(
                    dw::deleteFile(*image_, it->second.name.name, it->second.name.ext).ok());
                std::vector<dw::DeletedFile> found;
                ASSERT_TRUE(dw::listDeleted(*image_, found).ok());
                for (const dw::DeletedFile& d : found)
                    deleted.try_emplace(d.offset, it->second);
                it = copied_.erase(it);
            }
        };
        deleteSome();
        if (reuse) {
            for (int i = 0; i < 4; ++i)
                copyOne(false);
            deleteSome();
        }
        std::vector<dw::DeletedFile> found;
        ASSERT_TRUE(dw::listDeleted(*image_, found).ok());
        ASSERT_EQ(found.size(), deleted.size());
        std::shuffle(found.begin(), found.end(), rng_);
        for (const dw::DeletedFile& d : found) {
            dw::WholeFlexFile back = deleted[d.offset];
            back.name = {"U" + std::to_string(undeleted_++), "UND"};
            const Bytes before = target_.bytes;
            const dw::Status status = dw::undeleteFile(*image_, d.offset, back.name.text());
            if (!reuse) {
                EXPECT_TRUE(d.recoverable) << back.name.text() << ": " << d.reason;
            }
            EXPECT_EQ(status.ok(), d.recoverable) << status.text();
            if (status.ok()) {
                copied_[back.name.text()] = back;
            } else {
                EXPECT_EQ(target_.bytes, before) << "a refused undelete wrote";
            }
        }
    }

private:
    // The sectors a random file's map names, read as FLEX reads it.
    std::vector<Link> namedSectors(const Bytes& data) const {
        std::vector<Link> sectors;
        for (std::size_t at = 0; at + 2 < std::min<std::size_t>(data.size(), 504) && data[at + 2];
             at += 3)
            for (int k = 0; k < data[at + 2]; ++k) {
                const int index = data[at + 1] - 1 + k;
                sectors.push_back({data[at] + index / target_.spt, index % target_.spt + 1});
            }
        return sectors;
    }

    std::mt19937& rng_;
    Target target_;
    Bytes source_;
    std::unique_ptr<dw::DiskImage> sourceImage_;
    dw::SectorMap map_;
    std::unique_ptr<dw::DiskImage> image_;
    std::unique_ptr<dw::FileWriter> writer_;
    std::map<std::string, dw::WholeFlexFile> copied_;
    int undeleted_ = 0;
};

} // namespace

TEST(CopyProperty, CopiesKeepEveryByteAndTheTargetSound) {
    std::uint32_t seed = std::random_device{}();
    if (const char* fixed = std::getenv("DW_PROPERTY_SEED"))
        seed = static_cast<std::uint32_t>(std::strtoul(fixed, nullptr, 10));
    SCOPED_TRACE("DW_PROPERTY_SEED=" + std::to_string(seed));
    std::mt19937 rng(seed);
    for (int round = 0; round < 200 && !::testing::Test::HasFailure(); ++round) {
        CopyRun run(rng);
        for (int step = 0; step < 30 && !::testing::Test::HasFailure(); ++step) {
            SCOPED_TRACE("round " + std::to_string(round) + " step " + std::to_string(step));
            run.copyOne();
            run.verify();
        }
        run.deleteAndUndelete(round % 2 == 1);
        run.verify();
    }
}
