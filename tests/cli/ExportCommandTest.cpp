#include "cli/Cli.h"
#include "tests/cli/CliRun.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

using namespace dwtest;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

// README.TXT (text with a space marker), GAME.BIN (random) and A/B.TXT (a hostile name).
std::string sampleImage() {
    ImageBuilder b = ImageBuilder::formatted(10, 10);
    b.addFile("README", "TXT", {'H', 'I', 0x09, 0x02, '!', 0x0D});
    b.addFile("GAME", "BIN", {'A', 0x0D}, true);
    b.addFile("A/B", "TXT", {'x'});
    return b.save(tempPath("cli.dsk"));
}

} // namespace

TEST(CliExport, OneFileToAPathAndOverwriteOnlyWithForce) {
    const std::string image = sampleImage();
    const fs::path dir = tempFolder("export-one");
    const fs::path target = dir / "readme.txt";
    CliRun run = cli({"export", image, "README.TXT", "-o", target.string()});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(readFileText(target), "HI  !\r\n" + std::string(246, '\0'));
    EXPECT_NE(run.err.find("(text)"), std::string::npos);

    CliRun again = cli(
        {"export", image, "README.TXT", "-o", target.string(), "--no-add-lf", "--no-expand-tabs"});
    EXPECT_EQ(again.code, 1);
    EXPECT_NE(again.err.find("already exists; it was not overwritten (use --force)"),
              std::string::npos)
        << again.err;
    EXPECT_EQ(readFileText(target).substr(0, 7), "HI  !\r\n");

    CliRun forced = cli({"export", image, "README.TXT", "-o", target.string(), "--no-add-lf",
                         "--no-expand-tabs", "--force"});
    EXPECT_EQ(forced.code, 0) << forced.err;
    EXPECT_EQ(readFileText(target).substr(0, 6), "HI\x09\x02!\r");

    EXPECT_EQ(cli({"export", image, "README.TXT", "-o", "/dev/null"}).code, 0);

    CliRun binary = cli({"export", image, "README.TXT", "-o", dir.string(), "--mode", "binary"});
    EXPECT_EQ(binary.code, 0) << binary.err;
    EXPECT_EQ(fs::file_size(dir / "README.TXT"), 252u);
}

TEST(CliExport, SeveralOrAllGoIntoAFolderUnderSafeNames) {
    const std::string image = sampleImage();
    const fs::path dir = tempFolder("export-all") / "new";
    CliRun run = cli({"export", image, "--all", "-o", dir.string()});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(fs::file_size(dir / "GAME.BIN"), 252u); // random: binary
    EXPECT_EQ(readFileText(dir / "A_B.TXT").substr(0, 1), "x");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 3);

    const fs::path two = tempFolder("export-two");
    CliRun named =
        cli({"export", image, "README.TXT", "MISSING.TXT", "GAME.BIN", "-o", two.string()});
    EXPECT_EQ(named.code, 1);
    EXPECT_NE(named.err.find("MISSING.TXT: no such file"), std::string::npos) << named.err;
    EXPECT_TRUE(fs::exists(two / "README.TXT"));
    EXPECT_TRUE(fs::exists(two / "GAME.BIN"));
}

TEST(CliExport, ShortChainIsAFailure) {
    ImageBuilder b = ImageBuilder::formatted(5, 10);
    b.entry({0, 5}, 0, {"SHORT", "TXT", {1, 1}, {1, 2}, 5});
    b.chain({{1, 1}, {1, 2}});
    b.setData({1, 1}, {'a'});
    const std::string image = b.save(tempPath("short.dsk"));
    const fs::path dir = tempFolder("export-short");
    CliRun run = cli({"export", image, "SHORT.TXT", "-o", dir.string()});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("SHORT.TXT: Unexpected End Of Chain"), std::string::npos) << run.err;
    EXPECT_EQ(fs::file_size(dir / "SHORT.TXT"), 2u * 252u); // what could be read is kept
}

TEST(CliExport, CatPrintsTheViewCopy) {
    const std::string image = sampleImage();
    CliRun run = cli({"cat", image, "README.TXT"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "HI  !\r\n");
    EXPECT_EQ(cli({"cat", image, "README.TXT", "--no-add-lf"}).out, "HI  !\r");

    CliRun binary = cli({"cat", image, "GAME.BIN"});
    EXPECT_EQ(binary.code, 1);
    EXPECT_EQ(binary.out, "");
    EXPECT_NE(binary.err.find("binary"), std::string::npos);
    EXPECT_EQ(cli({"cat", image, "NONE.TXT"}).code, 1);
}

TEST(CliExport, UsageErrors) {
    const std::string image = sampleImage();
    EXPECT_EQ(cli({"export", image}).code, 2);
    EXPECT_EQ(cli({"export", image, "README.TXT", "--mode", "raw"}).code, 2);
    EXPECT_EQ(cli({"cat", image}).code, 2);
    EXPECT_EQ(cli({"delete", image}).code, 2);
    EXPECT_EQ(cli({"check"}).code, 2);
    EXPECT_EQ(cli({"export", "--help"}).code, 0);
}

TEST(CliDelete, AsksOnATerminalAndNeedsYesWithout) {
    const std::string image = sampleImage();
    const Bytes before = readFileBytes(image);
    CliRun refused = cli({"delete", image, "README.TXT"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("--yes"), std::string::npos);
    CliRun no = cli({"delete", image, "README.TXT"}, "n\n", true);
    EXPECT_EQ(no.code, 1);
    EXPECT_NE(no.err.find("Are you sure?"), std::string::npos);
    EXPECT_EQ(readFileBytes(image), before);

    CliRun yes = cli({"delete", image, "README.TXT"}, "y\n", true);
    EXPECT_EQ(yes.code, 0) << yes.err;
    CliRun rest = cli({"delete", image, "GAME.BIN", "README.TXT", "--yes"});
    EXPECT_EQ(rest.code, 1);
    EXPECT_NE(rest.err.find("Deleted GAME.BIN"), std::string::npos);
    EXPECT_NE(rest.err.find("README.TXT: no such file on the disk image"), std::string::npos)
        << rest.err;

    CliRun listing = cli({"list", image});
    EXPECT_EQ(listing.out.find("README"), std::string::npos);
    EXPECT_NE(listing.out.find("A/B"), std::string::npos);
    EXPECT_EQ(cli({"check", image}).code, 0);
}

TEST(CliCheck, ReportsFindingsWithStatusOne) {
    ImageBuilder b = ImageBuilder::formatted(5, 10);
    b.addFile("ONE", "TXT", Bytes(600, 'a'));
    const std::string sound = b.save(tempPath("sound.dsk"));
    CliRun clean = cli({"check", sound});
    EXPECT_EQ(clean.code, 0);
    EXPECT_NE(clean.err.find("no problems found"), std::string::npos);

    b.setLink({1, 2}, {0, 0});
    CliRun damaged = cli({"check", b.save(tempPath("damaged.dsk"))});
    EXPECT_EQ(damaged.code, 1);
    EXPECT_NE(damaged.out.find("ONE.TXT: the chain holds 2 sectors"), std::string::npos)
        << damaged.out;
    EXPECT_EQ(cli({"check", tempPath("missing.dsk")}).code, 1);
}

TEST(CliCheck, BuiltProgramRunsEndToEnd) {
    const std::string image = sampleImage();
    const std::string out = tempPath("cat.out");
    const std::string command = std::string("\"") + DW_CLI_PROGRAM + "\" cat \"" + image +
                                "\" README.TXT > \"" + out + "\" 2>&1 < /dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readFileText(out), "HI  !\r\n");
    const std::string del = std::string("\"") + DW_CLI_PROGRAM + "\" delete \"" + image +
                            "\" README.TXT < /dev/null > /dev/null 2>&1";
    EXPECT_NE(std::system(del.c_str()), 0); // no terminal and no --yes
}

TEST(CliCheck, NamesFromTheImageCannotReachTheTerminalRaw) {
    ImageBuilder b = ImageBuilder::formatted(5, 10);
    b.addFile("\x1b[2J", "TXT", Bytes(600, 'a'));
    b.setLink({1, 2}, {0, 0});
    const std::string image = b.save(tempPath("escape.dsk"));
    CliRun run = cli({"check", image});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
    EXPECT_NE(run.out.find("\\x1b[2J.TXT: the chain holds 2 sectors"), std::string::npos)
        << run.out;
    CliRun exported = cli({"export", image, "--all", "-o", tempFolder("escape").string()});
    EXPECT_EQ(exported.err.find('\x1b'), std::string::npos);
    EXPECT_EQ(exported.out.find('\x1b'), std::string::npos);
}
