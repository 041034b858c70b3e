#include "cli/Cli.h"
#include "engine/Format.h"
#include "tests/cli/CliRun.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

using namespace dwtest;

namespace {

// A folder of host files under their own names.
struct Host {
    std::filesystem::path folder = tempFolder("cli-host");
    std::string file(const std::string& name, const std::vector<std::uint8_t>& data) {
        const std::string path = (folder / name).string();
        writeFileBytes(path, data);
        return path;
    }
};

struct Entry {
    std::string name;
    std::vector<std::uint8_t> data; // the chain's data areas
};

// The live entries of track 0 sector 5 with their chains, read straight from the bytes.
std::vector<Entry> entries(const std::string& image, int spt) {
    const std::vector<std::uint8_t> img = readFileBytes(image);
    auto sector = [&](dw::SectorLink l) {
        return img.data() + ((l.track * spt) + l.sector - 1) * 256;
    };
    std::vector<Entry> result;
    for (int k = 0; k < 10; ++k) {
        const dw::DirectoryEntry e = dw::DirectoryEntry::parse(img.data() + 4 * 256 + 16 + 24 * k);
        if (!e.isLive())
            continue;
        Entry entry{e.name() + "." + e.ext(), {}};
        dw::SectorLink at = e.startLink;
        for (int i = 0; i < e.sectorCount; ++i) {
            entry.data.insert(entry.data.end(), sector(at) + 4, sector(at) + 256);
            at = dw::getLink(sector(at));
        }
        result.push_back(entry);
    }
    return result;
}

std::vector<std::uint8_t> prefix(const std::vector<std::uint8_t>& data, std::size_t n) {
    return {data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min(n, data.size()))};
}

} // namespace

TEST(CliImport, ImportsEachFileInItsMode) {
    const std::string image = ImageBuilder::formatted(35, 10).save(tempPath("cli-import.dsk"));
    Host host;
    const std::vector<std::uint8_t> binary = {0x00, 0x0A, 0x0D, 0x0A, 0xFF};
    const std::string text = host.file("hello.txt", {'h', 'i', 0x0D, 0x0A, 'x', 0x0A});
    const std::string bin = host.file("prog.cmd", binary);
    CliRun run = cli({"import", image, text, bin});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, text + " -> HELLO.TXT (1 sector)\n" + bin + " -> PROG.CMD (1 sector)\n");

    run = cli({"import", image, text, "--name", "raw.txt", "--mode", "binary"});
    EXPECT_EQ(run.code, 0) << run.err;
    run = cli({"import", image, text, "--name", "keep.lf", "--no-strip-lf"});
    EXPECT_EQ(run.code, 0) << run.err;
    run = cli({"import", image, bin, "--name", "forced.txt", "--mode", "text"});
    EXPECT_EQ(run.code, 0) << run.err;

    const std::vector<Entry> found = entries(image, 10);
    ASSERT_EQ(found.size(), 5u);
    EXPECT_EQ(found[0].name, "HELLO.TXT");
    EXPECT_EQ(prefix(found[0].data, 6), (std::vector<std::uint8_t>{'h', 'i', 0x0D, 'x', 0x0D, 0}));
    EXPECT_EQ(prefix(found[1].data, 6),
              (std::vector<std::uint8_t>{0x00, 0x0A, 0x0D, 0x0A, 0xFF, 0}));
    EXPECT_EQ(found[2].name, "RAW.TXT");
    EXPECT_EQ(prefix(found[2].data, 6),
              (std::vector<std::uint8_t>{'h', 'i', 0x0D, 0x0A, 'x', 0x0A}));
    EXPECT_EQ(found[3].name, "KEEP.LF");
    EXPECT_EQ(prefix(found[3].data, 6),
              (std::vector<std::uint8_t>{'h', 'i', 0x0D, 0x0A, 'x', 0x0A}));
    EXPECT_EQ(found[4].name, "FORCED.TXT");
    EXPECT_EQ(prefix(found[4].data, 5), (std::vector<std::uint8_t>{0x00, 0x0D, 0x0D, 0xFF, 0}));
}

TEST(CliImport, WithoutATerminalTheDefaultsChangeNothing) {
    ImageBuilder b = ImageBuilder::formatted(2, 10); // 10 free sectors
    b.addFile("OLD", "BIN", std::vector<std::uint8_t>(300, 7));
    const std::string image = b.save(tempPath("cli-defaults.dsk"));
    const std::vector<std::uint8_t> before = readFileBytes(image);
    Host host;
    const std::string old = host.file("old.bin", std::vector<std::uint8_t>(10, 1));
    const std::string big = host.file("big.bin", std::vector<std::uint8_t>(11 * 252, 2));
    const std::string longName = host.file("Document1.txt", {'d'});

    // Each file fails on its own; the others are still tried.
    CliRun run = cli({"import", image, old, big, longName});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("use --replace"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("use --partial"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("give one with --name"), std::string::npos) << run.err;
    EXPECT_EQ(readFileBytes(image), before);

    run = cli({"import", image, longName, "--name", "document.text"});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("the name given with --name does not fit"), std::string::npos);
    run = cli({"import", image, longName, "--name", "doc.txt"});
    EXPECT_EQ(run.code, 0) << run.err;
    run = cli({"import", image, old, big, "--replace", "--partial"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.err.find("BIG.BIN (8 sectors)"), std::string::npos) << run.err;
    const std::vector<Entry> found = entries(image, 10);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].name, "OLD.BIN");
    std::vector<std::uint8_t> replaced(10, 1);
    replaced.push_back(0);
    EXPECT_EQ(prefix(found[0].data, 11), replaced);
    EXPECT_EQ(found[2].name, "BIG.BIN");
    EXPECT_EQ(found[2].data, std::vector<std::uint8_t>(8 * 252, 2));
}

TEST(CliImport, OnATerminalTheQuestionsAreAsked) {
    ImageBuilder b = ImageBuilder::formatted(35, 10);
    b.addFile("NOTES", "TXT", {'o'});
    const std::string image = b.save(tempPath("cli-ask.dsk"));
    Host host;
    const std::string notes = host.file("notes.txt", {'n'});
    const std::string binary = host.file("readme", {0x01, 0x0A});

    // Replace? no. Name: Enter keeps the preset (asked again), then a valid one. Binary? no.
    CliRun run = cli({"import", image, notes, binary}, "n\n\ndoc.txt\nn\n", true);
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("File Already Exists\nDo you wish to delete existing file? [y/N]"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("readme (8.3) [readme.]: FLEX name for " + binary + " (8.3) [readme.]:"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("readme. may be a binary file. Do\nyou wish"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find(binary + " -> DOC.TXT (1 sector)\n"), std::string::npos);
    const std::vector<Entry> found = entries(image, 10);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].data[0], 'o');
    EXPECT_EQ(prefix(found[1].data, 3), (std::vector<std::uint8_t>{0x01, 0x0D, 0}));

    // A flag answers without asking; end of input cancels the name question.
    run = cli({"import", image, notes, "--replace"}, "", true);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.err, notes + " -> NOTES.TXT (1 sector)\n"); // no question
    run = cli({"import", image, notes, "--force"}, "", true); // the same as --replace
    EXPECT_EQ(run.code, 0) << run.err;
    run = cli({"import", image, host.file("toolongname.txt", {'x'})}, "", true);
    EXPECT_EQ(run.code, 1);
}

TEST(CliImport, UsageErrors) {
    const std::string image = ImageBuilder::formatted(35, 10).save(tempPath("cli-usage.dsk"));
    Host host;
    const std::string a = host.file("a.txt", {'a'});
    EXPECT_EQ(cli({"import", image, a, a, "--name", "x.y"}).code, 2);
    EXPECT_EQ(cli({"import", image, a, "--mode", "fast"}).code, 2);
    EXPECT_EQ(cli({"import", image, a, "--replace", "--no-replace"}).code, 2);
    EXPECT_EQ(cli({"import", image}).code, 2);
    EXPECT_EQ(cli({"import", tempPath("missing.dsk"), a}).code, 1);
}

TEST(CliImport, ReadOnlyImageIsRefusedAtOnce) {
    const std::string image = ImageBuilder::formatted(35, 10).save(tempPath("cli-ro.dsk"));
    Host host;
    const std::string a = host.file("a.txt", {'a'});

    // Refused for the superuser too, whom the system would let write it.
    std::filesystem::permissions(image, std::filesystem::perms::owner_read);
    const std::vector<std::uint8_t> before = readFileBytes(image);
    CliRun run = cli({"import", image, a});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("cannot be written; nothing was changed: Permission denied"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(readFileBytes(image), before);
}

TEST(CliImport, TheProgramImportsEndToEnd) {
    const std::string image = ImageBuilder::formatted(35, 10).save(tempPath("cli-e2e.dsk"));
    Host host;
    std::vector<std::uint8_t> data(1000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 31);
    const std::string file = host.file("data.bin", data);
    const std::string command = std::string("\"") + DW_CLI_PROGRAM + "\" import \"" + image +
                                "\" \"" + file + "\" --mode binary < /dev/null > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::vector<Entry> found = entries(image, 10);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(prefix(found[0].data, 1000), data);
}
