// find, list and check over folders of images: the walk, what it skips and reports, the
// IMAGE: lines and documents, in walk order whatever --jobs says.

#include "cli/Cli.h"
#include "tests/cli/CliRun.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/KilledChild.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

using namespace dwtest;
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(CliArchive, FindListAndCheckWalkFoldersInOrder) {
    // a.dsk and sub/d.dsk sound, b.DSK damaged, sub/c.img an image known by its content;
    // cpm.dsk another system's disk, tabs.txt text whose bytes would pass as a SIR (only .dsk
    // files are taken on that alone), gone.dsk a link to nothing.
    const fs::path top = tempFolder("archive");
    fs::create_directory(top / "sub");
    auto image = [&](const std::string& path, const std::string& name, bool damaged = false) {
        ImageBuilder b = ImageBuilder::formatted(35, 10);
        b.addFile(name, "SYS", std::vector<std::uint8_t>(300, 1));
        b.addFile("README", "TXT", {'r'});
        if (damaged)
            b.setLink({1, 1}, {0, 0});
        return b.save((top / path).string());
    };
    const std::string a = image("a.dsk", "A"), b = image("b.DSK", "B", true),
                      c = image("sub/c.img", "C"), d = image("sub/d.dsk", "D");
    std::vector<std::uint8_t> cpm = readFileBytes(a);
    cpm.resize(cpm.size() - 100);
    cpm[528 + 19] = 67; // no month: another system's disk
    cpm[528 + 20] = 41;
    writeFileBytes((top / "cpm.dsk").string(), cpm);
    writeFileText(top / "tabs.txt", std::string(4000, '\t'));
    fs::create_symlink(top / "nowhere", top / "gone.dsk");
    const std::string t = top.string(), gone = t + "/gone.dsk";
    std::string findings; // the one-image form's lines, each after "IMAGE: "
    std::istringstream oneImage(cli({"check", b}).out);
    for (std::string line; std::getline(oneImage, line);)
        findings += b + ": " + line + "\n";

    struct Case {
        std::vector<std::string> args;
        std::string out;
        std::string err; // a part of stderr
    };
    const Case cases[] = {
        {{"find", "*.sys", t},
         a + ": A.SYS\n" + b + ": B.SYS\n" + c + ": C.SYS\n" + d + ": D.SYS\n",
         gone + ": cannot open: No such file or directory"},
        {{"find", "?.SYS", d, a}, d + ": D.SYS\n" + a + ": A.SYS\n", ""}, // in the order given
        {{"-q", "check", t}, findings, gone + ": cannot open"},
        {{"list", "--names", a, t + "/sub"},
         a + ": A.SYS\n" + a + ": README.TXT\n" + c + ": C.SYS\n" + c + ": README.TXT\n" + d +
             ": D.SYS\n" + d + ": README.TXT\n",
         ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.args[1]);
        for (const char* jobs : {"1", "3"}) {
            std::vector<std::string> args = k.args;
            args.insert(args.end(), {"--jobs", jobs});
            const CliRun run = cli(args);
            EXPECT_EQ(run.code, k.err.empty() ? 0 : 1);
            EXPECT_EQ(run.out, k.out);
            EXPECT_THAT(run.err, HasSubstr(k.err));
            EXPECT_THAT(run.err, Not(HasSubstr("cpm.dsk")));
        }
    }
    // -v names what was skipped; a file named on the command line is never skipped.
    const CliRun verbose = cli({"-v", "list", t});
    EXPECT_THAT(verbose.err, HasSubstr(t + "/cpm.dsk: skipped: not a FLEX disk image: the file"));
    EXPECT_THAT(verbose.err, HasSubstr(t + "/tabs.txt: skipped: not a FLEX disk image: its first"));
    const CliRun named = cli({"find", "*", t + "/cpm.dsk", a});
    EXPECT_EQ(named.code, 1);
    EXPECT_THAT(named.err, HasSubstr("cpm.dsk: not a FLEX disk image"));

    // --json: a document per match, or per image, each on a line of its own.
    for (const std::string command : {"find", "check", "list"}) {
        std::vector<std::string> args{command, "--json", t};
        if (command == "find")
            args.insert(args.begin() + 1, "*");
        std::istringstream lines(cli(args).out);
        std::vector<std::string> images;
        for (std::string line; std::getline(lines, line);) {
            const nlohmann::json document = nlohmann::json::parse(line);
            EXPECT_EQ(document["command"], command);
            EXPECT_EQ(document["ok"],
                      document["image"] != gone && (command != "check" || document["image"] != b));
            if (command == "find" && document["ok"] == true) {
                EXPECT_TRUE(document.contains("sectors") && document.contains("random"));
            }
            if (images.empty() || images.back() != document["image"])
                images.push_back(document["image"]);
        }
        EXPECT_EQ(images, (std::vector<std::string>{a, b, gone, c, d}));
    }

    // A change to an image killed half-way is undone by the walk, and its journal, gone by the
    // time the walk comes to it, is no error.
    ASSERT_EQ(inChild(3, [&] { return cli({"delete", d, "D.SYS", "--yes"}).code == 0; }), Killed);
    const CliRun undone = cli({"find", "d.sys", t + "/sub", "--jobs", "1"});
    EXPECT_EQ(undone.code, 0) << undone.err;
    EXPECT_EQ(undone.out, d + ": D.SYS\n");
    EXPECT_THAT(undone.err, HasSubstr("has been undone"));
}
