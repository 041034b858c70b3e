#include "engine/Import.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <optional>

using namespace dwtest;

namespace {

// Answers the import's questions from queues; an unexpected question fails the test.
struct Script : dw::ImportQuestions {
    std::deque<std::optional<std::string>> names; // nullopt: Cancel
    std::deque<bool> answers;
    std::vector<std::string> presets;
    std::vector<std::string> asked;
    std::vector<std::string> told;

    bool askName(std::string& text) override {
        presets.push_back(text);
        if (names.empty()) {
            ADD_FAILURE() << "unexpected name question, preset " << text;
            return false;
        }
        std::optional<std::string> answer = names.front();
        names.pop_front();
        if (!answer)
            return false;
        text = *answer;
        return true;
    }
    bool askYesNo(const std::string& question) override {
        asked.push_back(question);
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << question;
            return false;
        }
        bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void tell(const std::string& message) override { told.push_back(message); }
};

std::string hostFile(const std::string& name, const std::vector<std::uint8_t>& data) {
    const std::filesystem::path dir = tempFolder("host");
    const std::string path = (dir / name).string();
    writeFileBytes(path, data);
    return path;
}

std::vector<std::uint8_t> pattern(std::size_t size, unsigned seed = 1) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>((i * 7 + seed * 13 + i / 251) & 0xFF);
    return data;
}

class Import : public ::testing::Test {
protected:
    void open(const ImageBuilder& b) {
        spt_ = b.sectorsPerTrack();
        path_ = b.save(tempPath("import.dsk"));
        ASSERT_TRUE(dw::DiskImage::open(path_, image_).ok());
    }
    dw::ImportResult import(const std::string& host, const std::string& flexName = {}) {
        return dw::importFile(*image_, host, options, script, flexName);
    }
    std::vector<std::uint8_t> bytes() {
        EXPECT_TRUE(image_->flush().ok());
        return readFileBytes(path_);
    }
    const std::uint8_t* sector(const std::vector<std::uint8_t>& img, int track, int sec) const {
        return img.data() + ((track * spt_) + sec - 1) * 256;
    }
    dw::SectorLink link(const std::vector<std::uint8_t>& img, int track, int sec) const {
        return dw::getLink(sector(img, track, sec));
    }
    // Slot k of a directory chained through track 0 in sector order.
    dw::DirectoryEntry slot(const std::vector<std::uint8_t>& img, int k) const {
        return dw::DirectoryEntry::parse(sector(img, 0, 5 + k / 10) + 16 + 24 * (k % 10));
    }
    static dw::SystemInformationRecord sir(const std::vector<std::uint8_t>& img) {
        return dw::SystemInformationRecord::parse(img.data() + 528);
    }
    // The data areas of a committed chain, as a reader of the image would follow it.
    std::vector<std::uint8_t> chainData(const std::vector<std::uint8_t>& img,
                                        const dw::DirectoryEntry& e) const {
        std::vector<std::uint8_t> data;
        dw::SectorLink at = e.startLink;
        for (int i = 0; i < e.sectorCount; ++i) {
            const std::uint8_t* p = sector(img, at.track, at.sector);
            data.insert(data.end(), p + 4, p + 256);
            at = dw::getLink(p);
        }
        EXPECT_TRUE(at.isNull()) << "chain does not end where its count says";
        return data;
    }

    dw::ImportOptions options;
    Script script;
    std::unique_ptr<dw::DiskImage> image_;
    std::string path_;
    int spt_ = 0;
};

dw::SectorLink L(int t, int s) {
    return {static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(s)};
}

} // namespace

TEST(ImportNames, SplitCheckAndPreset) {
    EXPECT_EQ(dw::splitHostName("/a/b.c/readme").name, "readme");
    EXPECT_EQ(dw::splitHostName("/a/b.c/readme").ext, "");
    EXPECT_EQ(dw::splitHostName("x/a.b.x").name, "a.b");
    EXPECT_EQ(dw::splitHostName("x/a.b.x").ext, "x");
    EXPECT_EQ(dw::splitAnswer("..abc.d.e").name, "abc");
    EXPECT_EQ(dw::splitAnswer("..abc.d.e").ext, "d.e");
    EXPECT_EQ(dw::splitAnswer("abc").ext, "");
    EXPECT_EQ(dw::splitAnswer("abc.").ext, "");
    EXPECT_EQ(dw::namePreset({"Document1", "txt"}), "Document.txt");
    EXPECT_EQ(dw::namePreset({"notes", "text"}), "notes.tex");
    EXPECT_EQ(dw::upperCased("a.b-z{\xe9"), "A.B-Z{\xe9");

    EXPECT_TRUE(dw::acceptable({"a b.c", "x y"}));
    EXPECT_TRUE(dw::acceptable({"ABCDEFGH", "~~~"}));
    EXPECT_FALSE(dw::acceptable({"", "TXT"}));
    EXPECT_FALSE(dw::acceptable({"ABCDEFGHI", "TXT"}));
    EXPECT_FALSE(dw::acceptable({"README", ""}));
    EXPECT_FALSE(dw::acceptable({"README", "TEXT"}));
    EXPECT_FALSE(dw::acceptable({"\xd2"
                                 "EADME",
                                 "TXT"})); // would read as a deleted entry
    EXPECT_FALSE(dw::acceptable({"READ\tME", "TXT"}));
    EXPECT_FALSE(dw::acceptable({"README", "TX\x7f"}));
}

TEST(ImportMessages, InvalidLinkTexts) {
    EXPECT_EQ(dw::firstFreeLinkMessage(L(0, 0)),
              "Both the next user track and the next user sector in the SIR contain invlaid "
              "links [T=0x00] [S=0x00]");
    EXPECT_EQ(dw::firstFreeLinkMessage(L(0, 0x1A)),
              "The next user track in the SIR contains an invlaid link [0x00]");
    EXPECT_EQ(dw::firstFreeLinkMessage(L(0xAB, 0)),
              "The next user sector in the SIR contains an invlaid link [0x00]");
    EXPECT_EQ(dw::endLinkMessage(L(0, 0)), "Both the File End Track and the File End sector "
                                           "contain invlaid links [T=0x00] [S=0x00]");
    EXPECT_EQ(dw::endLinkMessage(L(0, 3)), "The File End Track contains an invlaid link [0x00]");
    EXPECT_EQ(dw::endLinkMessage(L(3, 0)), "The File End Sector contains an invlaid link [0x00]");
}

TEST_F(Import, NameQuestionsAndStoredBytes) {
    open(ImageBuilder::formatted(35, 10));
    script.names = {std::string("abc"), std::string("abc.d.e")};
    dw::ImportResult r = import(hostFile("readme", {'x'}));
    ASSERT_TRUE(r.committed) << r.status.text();
    EXPECT_EQ(script.presets, (std::vector<std::string>{"readme.", "abc."}));
    EXPECT_EQ(r.flexName, "ABC.D.E");

    script.names = {std::nullopt};
    r = import(hostFile("Document1.txt", {'x'}));
    EXPECT_EQ(r.status.code(), dw::ErrorCode::Cancelled);
    EXPECT_TRUE(script.told.empty());
    script.names = {std::nullopt};
    import(hostFile("notes.text", {'x'}));
    script.names = {std::nullopt};
    import(hostFile("caf\xe9.txt", {'x'})); // a byte with bit 7 set is asked again
    EXPECT_EQ(script.presets, (std::vector<std::string>{"readme.", "abc.", "Document.txt",
                                                        "notes.tex", "caf\xe9.txt"}));

    r = import(hostFile("a.b.x", {'x'}));
    EXPECT_EQ(r.flexName, "A.B.X");
    r = import(hostFile("readme.txt", {'x'}));
    EXPECT_EQ(r.flexName, "README.TXT");
    r = import(hostFile("whatever.bin", {'x'}), "over.ly");
    EXPECT_EQ(r.flexName, "OVER.LY");

    const std::vector<std::uint8_t> img = bytes();
    EXPECT_EQ(slot(img, 0).name(), "ABC");
    EXPECT_EQ(slot(img, 0).ext(), "D.E");
    EXPECT_EQ(slot(img, 1).name(), "A.B");
    EXPECT_EQ(slot(img, 1).ext(), "X");
    const std::uint8_t* readme = img.data() + 4 * 256 + 16 + 24 * 2;
    EXPECT_EQ(
        std::vector<std::uint8_t>(readme, readme + 11),
        (std::vector<std::uint8_t>{0x52, 0x45, 0x41, 0x44, 0x4D, 0x45, 0, 0, 0x54, 0x58, 0x54}));
    EXPECT_TRUE(slot(img, 4).isEndOfDirectory());
}

TEST_F(Import, OneAndTwoSectorsKeepFreeLinksAndUpdateTheSir) {
    open(ImageBuilder::formatted(35, 10));
    options.mode = dw::ImportMode::Binary;
    const std::vector<std::uint8_t> data = pattern(253);
    dw::ImportResult one = import(hostFile("one.bin", pattern(252, 2)));
    dw::ImportResult two = import(hostFile("two.bin", data));
    ASSERT_TRUE(one.committed && two.committed);
    EXPECT_EQ(one.sectorsUsed, 1);
    EXPECT_EQ(two.sectorsUsed, 2);

    const std::vector<std::uint8_t> img = bytes();
    const dw::DirectoryEntry e1 = slot(img, 0), e2 = slot(img, 1);
    EXPECT_EQ(e1.startLink, L(1, 1));
    EXPECT_EQ(e1.endLink, L(1, 1));
    EXPECT_EQ(e2.startLink, L(1, 2));
    EXPECT_EQ(e2.endLink, L(1, 3));
    EXPECT_EQ(e2.sectorCount, 2);
    EXPECT_EQ(e2.randomFlag, 0);
    const dw::LocalDate today = dw::currentLocalDate();
    EXPECT_EQ(e2.year, dw::yearByte(today.year));
    EXPECT_EQ(e2.month, today.month);

    // The first sector keeps the free chain's link, the last one ends the file.
    EXPECT_EQ(link(img, 1, 1), L(0, 0));
    EXPECT_EQ(link(img, 1, 2), L(1, 3));
    EXPECT_EQ(link(img, 1, 3), L(0, 0));
    EXPECT_EQ(sector(img, 1, 2)[2], 0);
    EXPECT_EQ(sector(img, 1, 2)[3], 1);
    EXPECT_EQ(sector(img, 1, 3)[3], 2);
    EXPECT_EQ(sector(img, 1, 3)[4], data[252]);
    for (int i = 5; i < 256; ++i)
        ASSERT_EQ(sector(img, 1, 3)[i], 0) << i;
    std::vector<std::uint8_t> stored = chainData(img, e2);
    stored.resize(data.size());
    EXPECT_EQ(stored, data);

    const dw::SystemInformationRecord s = sir(img);
    EXPECT_EQ(s.firstFree, L(1, 4));
    EXPECT_EQ(s.lastFree, L(34, 10));
    EXPECT_EQ(s.freeSectorCount, 340 - 3);
}

TEST_F(Import, RecordNumberOfThe256thSector) {
    open(ImageBuilder::formatted(40, 18));
    options.mode = dw::ImportMode::Binary;
    const std::vector<std::uint8_t> data = pattern(256 * 252);
    ASSERT_TRUE(import(hostFile("big.bin", data)).committed);
    const std::vector<std::uint8_t> img = bytes();
    const dw::DirectoryEntry e = slot(img, 0);
    EXPECT_EQ(e.sectorCount, 256);
    EXPECT_EQ(chainData(img, e), data);
    // Sector 256 of the free chain: track 1 + 255 / 18 = 15, sector 255 % 18 + 1 = 4.
    EXPECT_EQ(e.endLink, L(15, 4));
    EXPECT_EQ(sector(img, 15, 4)[2], 0x01);
    EXPECT_EQ(sector(img, 15, 4)[3], 0x00);
    EXPECT_EQ(sector(img, 1, 1)[3], 0x01);
}

namespace {
// 3 free sectors: 1/1 -> 1/2 -> 1/3; track 1 sectors 4.. belong to no chain.
ImageBuilder threeFree() {
    ImageBuilder b = ImageBuilder::formatted(2, 10);
    b.setLink({1, 3}, {0, 0});
    SirSpec record;
    record.firstFree = {1, 1};
    record.lastFree = {1, 3};
    record.freeCount = 3;
    b.sir(record);
    return b;
}
} // namespace

TEST_F(Import, FillingTheLastFreeSectorEmptiesTheFreeChain) {
    open(threeFree());
    options.mode = dw::ImportMode::Binary;
    dw::ImportResult r = import(hostFile("fill.bin", pattern(3 * 252)));
    ASSERT_TRUE(r.committed) << r.status.text();
    EXPECT_TRUE(script.asked.empty());
    std::vector<std::uint8_t> img = bytes();
    EXPECT_EQ(sir(img).firstFree, L(0, 0));
    EXPECT_EQ(sir(img).lastFree, L(0, 0));
    EXPECT_EQ(sir(img).freeSectorCount, 0);

    // The next file finds no free sector and changes nothing.
    r = import(hostFile("more.bin", {1}));
    EXPECT_FALSE(r.committed);
    EXPECT_EQ(script.told, (std::vector<std::string>{dw::firstFreeLinkMessage(L(0, 0))}));
    EXPECT_EQ(bytes(), img);
}

TEST_F(Import, DiskFullAnsweredNoChangesNothingAndYesKeepsThePart) {
    open(threeFree());
    options.mode = dw::ImportMode::Binary;
    const std::vector<std::uint8_t> before = bytes();
    const std::vector<std::uint8_t> data = pattern(3 * 252 + 1);
    const std::string host = hostFile("big.bin", data);
    script.answers = {false};
    dw::ImportResult r = import(host);
    EXPECT_EQ(r.status.code(), dw::ErrorCode::Cancelled);
    EXPECT_EQ(script.asked, (std::vector<std::string>{dw::DiskFullQuestion}));
    EXPECT_EQ(bytes(), before);

    script.answers = {true};
    r = import(host);
    ASSERT_TRUE(r.committed);
    EXPECT_EQ(r.sectorsUsed, 3);
    const std::vector<std::uint8_t> img = bytes();
    EXPECT_EQ(slot(img, 0).sectorCount, 3);
    EXPECT_EQ(chainData(img, slot(img, 0)),
              std::vector<std::uint8_t>(data.begin(), data.begin() + 3 * 252));
    EXPECT_EQ(sir(img).firstFree, L(0, 0));
    EXPECT_EQ(sir(img).lastFree, L(0, 0));
    EXPECT_EQ(sir(img).freeSectorCount, 0);
}

TEST_F(Import, TextModeLineFeedRules) {
    open(ImageBuilder::formatted(35, 10));
    ASSERT_TRUE(import(hostFile("a.txt", {0x41, 0x42, 0x0D, 0x0A, 0x43, 0x44, 0x0A})).committed);

    // A carriage return ending one sector drops the line feed opening the next.
    std::vector<std::uint8_t> across(251, 'x');
    across.push_back(0x0D);
    across.insert(across.end(), {0x0A, 'y', 0x0A});
    ASSERT_TRUE(import(hostFile("b.txt", across)).committed);

    // A dropped line feed at the very end still makes a sector of its own.
    std::vector<std::uint8_t> trailing(251, 'z');
    trailing.insert(trailing.end(), {0x0D, 0x0A});
    ASSERT_TRUE(import(hostFile("c.txt", trailing)).committed);

    options.stripLineFeeds = false;
    ASSERT_TRUE(import(hostFile("d.txt", {'A', 0x0D, 0x0A, 0x0A})).committed);
    EXPECT_TRUE(script.asked.empty());

    const std::vector<std::uint8_t> img = bytes();
    std::vector<std::uint8_t> a = chainData(img, slot(img, 0));
    EXPECT_EQ(std::vector<std::uint8_t>(a.begin(), a.begin() + 7),
              (std::vector<std::uint8_t>{0x41, 0x42, 0x0D, 0x43, 0x44, 0x0D, 0}));
    std::vector<std::uint8_t> b = chainData(img, slot(img, 1));
    ASSERT_EQ(b.size(), 2u * 252);
    EXPECT_EQ(b[251], 0x0D);
    EXPECT_EQ(b[252], 'y');
    EXPECT_EQ(b[253], 0x0D);
    EXPECT_EQ(b[254], 0);
    EXPECT_EQ(slot(img, 2).sectorCount, 2);
    EXPECT_EQ(chainData(img, slot(img, 2))[252], 0);
    std::vector<std::uint8_t> d = chainData(img, slot(img, 3));
    EXPECT_EQ(std::vector<std::uint8_t>(d.begin(), d.begin() + 5),
              (std::vector<std::uint8_t>{'A', 0x0D, 0x0A, 0x0A, 0}));
}

TEST_F(Import, BinaryQuestionComesFromTheFirstByte) {
    open(ImageBuilder::formatted(35, 10));
    EXPECT_EQ(dw::binaryQuestion("prog.cmd"),
              "prog.cmd may be a binary file. Do\r\nyou wish to treat it as such?");
    for (int value : {0x00, 0x09, 0x0A, 0x0D, 0x1F, 0x80, 0xFF}) {
        const auto first = static_cast<std::uint8_t>(value);
        script.answers = {true};
        script.asked.clear();
        const std::string name = "prog" + std::to_string(first);
        dw::ImportResult r = import(hostFile(name + ".cmd", {first, 0x0A}));
        EXPECT_EQ(script.asked, (std::vector<std::string>{dw::binaryQuestion(name + ".cmd")}))
            << int{first};
        EXPECT_TRUE(r.committed);
    }
    script.asked.clear();
    for (int first : {0x20, 0x41, 0x7F})
        import(hostFile("t" + std::to_string(first) + ".txt",
                        {static_cast<std::uint8_t>(first), 0x0A}));
    EXPECT_TRUE(script.asked.empty());

    // Yes keeps the line feed (binary), No converts it (text).
    script.answers = {true, false};
    import(hostFile("yes.bin", {0x0D, 0x0A, 0x0A}));
    import(hostFile("no.bin", {0x0D, 0x0A, 0x0A}));
    // Neither option: binary without a question.
    options.stripLineFeeds = false;
    options.compressSpaces = false;
    import(hostFile("none.bin", {0x0D, 0x0A, 0x0A}));
    EXPECT_TRUE(script.answers.empty());

    const std::vector<std::uint8_t> img = bytes();
    auto firstBytes = [&](int k) {
        std::vector<std::uint8_t> d = chainData(img, slot(img, k));
        return std::vector<std::uint8_t>(d.begin(), d.begin() + 3);
    };
    EXPECT_EQ(firstBytes(10), (std::vector<std::uint8_t>{0x0D, 0x0A, 0x0A}));
    EXPECT_EQ(firstBytes(11), (std::vector<std::uint8_t>{0x0D, 0x0D, 0}));
    EXPECT_EQ(firstBytes(12), (std::vector<std::uint8_t>{0x0D, 0x0A, 0x0A}));
}

TEST_F(Import, ReplacementReusesTheSlotAndAppendsTheOldChainFirst) {
    ImageBuilder b = ImageBuilder::formatted(35, 10);
    b.addFile("README", "TXT", pattern(400)); // 1/1, 1/2
    b.addFile("readme", "txt", pattern(10));  // 1/3: differs only in case
    b.addFile("KEEP", "BIN", pattern(10));    // 1/4
    open(b);
    options.mode = dw::ImportMode::Binary;
    const std::string host = hostFile("readme.txt", pattern(600, 5));

    script.answers = {false};
    const std::vector<std::uint8_t> before = bytes();
    EXPECT_EQ(import(host).status.code(), dw::ErrorCode::Cancelled);
    EXPECT_EQ(script.asked, (std::vector<std::string>{dw::ReplaceQuestion}));
    EXPECT_EQ(bytes(), before);

    script.answers = {true};
    dw::ImportResult r = import(host);
    ASSERT_TRUE(r.committed) << r.status.text();
    const std::vector<std::uint8_t> img = bytes();
    const dw::DirectoryEntry e = slot(img, 0);
    EXPECT_EQ(e.name(), "README");
    EXPECT_EQ(e.sectorCount, 3);
    EXPECT_EQ(e.startLink, L(1, 5)); // new sectors come from the head
    EXPECT_EQ(slot(img, 1).name(), "readme");
    EXPECT_TRUE(slot(img, 3).isEndOfDirectory());
    // The old chain now ends the free chain.
    EXPECT_EQ(link(img, 34, 10), L(1, 1));
    EXPECT_EQ(link(img, 1, 2), L(0, 0));
    EXPECT_EQ(sir(img).lastFree, L(1, 2));
    EXPECT_EQ(sir(img).firstFree, L(1, 8));
    EXPECT_EQ(sir(img).freeSectorCount, 340 - 4 + 2 - 3);
    std::vector<std::uint8_t> stored = chainData(img, e);
    stored.resize(600);
    EXPECT_EQ(stored, pattern(600, 5));
}

TEST_F(Import, ReplacementOnAFullDiskTakesTheFreedSectors) {
    ImageBuilder b = ImageBuilder::formatted(2, 10);
    b.addFile("OLD", "BIN", pattern(5 * 252));
    b.addFile("FILL", "BIN", pattern(5 * 252));
    b.addFile("EMPTY", "BIN", {});
    open(b);
    options.mode = dw::ImportMode::Binary;
    std::vector<std::uint8_t> img = bytes();
    ASSERT_EQ(sir(img).freeSectorCount, 0);
    ASSERT_EQ(sir(img).firstFree, L(0, 0));

    // Replacing an empty file frees nothing: refused before the old entry is touched.
    script.answers = {true};
    EXPECT_FALSE(import(hostFile("empty.bin", {1})).committed);
    EXPECT_EQ(script.told, (std::vector<std::string>{dw::firstFreeLinkMessage(L(0, 0))}));
    EXPECT_EQ(bytes(), img);

    script.answers = {true};
    dw::ImportResult r = import(hostFile("old.bin", pattern(2 * 252, 9)));
    ASSERT_TRUE(r.committed) << r.status.text();
    img = bytes();
    EXPECT_EQ(slot(img, 0).startLink, L(1, 1));
    EXPECT_EQ(slot(img, 0).endLink, L(1, 2));
    EXPECT_EQ(sir(img).firstFree, L(1, 3));
    EXPECT_EQ(sir(img).lastFree, L(1, 5));
    EXPECT_EQ(sir(img).freeSectorCount, 3);
    EXPECT_EQ(link(img, 1, 5), L(0, 0));
}

TEST_F(Import, FullDirectoryGrowsIntoTheFreeChain) {
    // One directory sector: ten slots, five live and five deleted, none never used.
    ImageBuilder b = ImageBuilder::formatted(3, 5);
    for (int k = 0; k < 5; ++k)
        b.addFile("F" + std::to_string(k), "BIN", {1});
    for (int k = 5; k < 10; ++k)
        b.rawEntry({0, 5}, k, std::vector<std::uint8_t>(24, 0xFF));
    open(b);
    ASSERT_TRUE(import(hostFile("new.txt", {'a'})).committed);
    std::vector<std::uint8_t> img = bytes();
    // The free chain's head (002-001) ends the directory, the file takes the next sector.
    EXPECT_EQ(link(img, 0, 5), L(2, 1));
    EXPECT_EQ(dw::DirectoryEntry::parse(sector(img, 2, 1) + 16).name(), "NEW");
    EXPECT_EQ(dw::DirectoryEntry::parse(sector(img, 2, 1) + 16).startLink, L(2, 2));
    EXPECT_EQ(link(img, 2, 1), L(0, 0));
    EXPECT_EQ(sir(img).firstFree, L(2, 3));
    EXPECT_EQ(sir(img).freeSectorCount, 3);

    // A free chain of one sector cannot hold both: nothing is written.
    b.sir({"TEST", 1, {2, 5}, {2, 5}, 1});
    open(b);
    const std::vector<std::uint8_t> before = bytes();
    const dw::ImportResult r = import(hostFile("new.txt", {'a'}));
    EXPECT_EQ(r.status.code(), dw::ErrorCode::DirectoryFull);
    EXPECT_EQ(script.told, (std::vector<std::string>{std::string(dw::FullDirectoryText) +
                                                     "; NEW.TXT was not imported"}));
    EXPECT_EQ(bytes(), before);
    // Replacing a file still works: it takes its own slot.
    script.answers = {true};
    EXPECT_TRUE(import(hostFile("f3.bin", {'b'})).committed);
}

TEST_F(Import, RefusalsChangeNothing) {
    ImageBuilder b = ImageBuilder::formatted(4, 10);
    b.addFile("KEEP", "TXT", pattern(300));
    open(b);
    const std::vector<std::uint8_t> before = bytes();

    dw::ImportResult r = import(hostFile("empty.txt", {}));
    EXPECT_FALSE(r.committed);
    EXPECT_NE(r.status.text().find("is empty"), std::string::npos);
    // A directory opens but cannot be read.
    const std::filesystem::path folder = tempPath("host");
    std::filesystem::create_directories(folder / "dir.txt");
    EXPECT_EQ(import((folder / "dir.txt").string()).status.code(), dw::ErrorCode::ReadFailed);
    EXPECT_EQ(import((folder / "missing.txt").string()).status.code(), dw::ErrorCode::OpenFailed);
    EXPECT_EQ(script.told.size(), 3u);
    EXPECT_EQ(bytes(), before);

    image_.reset();
    ASSERT_TRUE(dw::DiskImage::openReadOnly(path_, image_).ok());
    r = import(hostFile("any name at all.text", {'a'}));
    EXPECT_EQ(r.status.code(), dw::ErrorCode::ReadOnly);
    EXPECT_TRUE(script.presets.empty());
    EXPECT_EQ(readFileBytes(path_), before);
}

TEST_F(Import, DamagedFreeChainOrSirLinkRefuses) {
    ImageBuilder b = ImageBuilder::formatted(4, 10);
    b.setLink({1, 3}, {1, 2}); // the free chain loops after two sectors
    open(b);
    options.mode = dw::ImportMode::Binary;
    const std::vector<std::uint8_t> before = bytes();
    dw::ImportResult r = import(hostFile("loop.bin", pattern(5 * 252)));
    EXPECT_EQ(r.status.code(), dw::ErrorCode::Damaged);
    // A file that fits in front of the loop would leave firstFree pointing into itself.
    EXPECT_EQ(import(hostFile("three.bin", pattern(3 * 252))).status.code(),
              dw::ErrorCode::Damaged);
    // So does one that takes a sector only: the chain it leaves is still damaged.
    EXPECT_EQ(import(hostFile("one.bin", pattern(252))).status.code(), dw::ErrorCode::Damaged);
    EXPECT_EQ(bytes(), before);

    // A free chain that runs into a live file never overwrites it.
    ImageBuilder crossed = ImageBuilder::formatted(4, 10);
    crossed.addFile("KEEP", "TXT", pattern(300)); // 1/1, 1/2
    crossed.setLink({1, 3}, {1, 1});
    open(crossed);
    const std::vector<std::uint8_t> intact = bytes();
    script.told.clear();
    EXPECT_EQ(import(hostFile("cross.bin", pattern(2 * 252))).status.code(),
              dw::ErrorCode::Damaged);
    EXPECT_EQ(script.told, (std::vector<std::string>{
                               "The free chain is damaged: its sector 001-001 also belongs to "
                               "KEEP.TXT; CROSS.BIN was not imported (repair rebuilds the free "
                               "chain)"}));
    EXPECT_EQ(bytes(), intact);

    for (auto [first, message] :
         {std::pair{L(0, 7), "The next user track in the SIR contains an invlaid link [0x00]"},
          std::pair{L(2, 0), "The next user sector in the SIR contains an invlaid link [0x00]"}}) {
        ImageBuilder bad = ImageBuilder::formatted(4, 10);
        SirSpec record;
        record.firstFree = {first.track, first.sector};
        record.lastFree = {3, 10};
        record.freeCount = 30;
        bad.sir(record);
        open(bad);
        script.told.clear();
        const std::vector<std::uint8_t> unchanged = bytes();
        EXPECT_FALSE(import(hostFile("x.bin", {1})).committed);
        EXPECT_EQ(script.told, (std::vector<std::string>{message}));
        EXPECT_EQ(bytes(), unchanged);
    }
}

TEST(ImportWarning, AskedOnceWhileEitherOptionIsOn) {
    Script script;
    bool warned = false;
    dw::ImportOptions off;
    off.compressSpaces = false;
    EXPECT_TRUE(dw::confirmCompactionWarning(off, warned, script));
    EXPECT_FALSE(warned);

    dw::ImportOptions on;
    script.answers = {false};
    EXPECT_FALSE(dw::confirmCompactionWarning(on, warned, script));
    EXPECT_TRUE(dw::confirmCompactionWarning(on, warned, script));
    ASSERT_EQ(script.asked.size(), 1u);
    EXPECT_EQ(script.asked[0].find("Binary Compaction, and Space Compression have not\r\nyet"), 0u);
    EXPECT_NE(script.asked[0].find("blocks.\r\n\r\n                   Do you wish to continue?"),
              std::string::npos);
}
