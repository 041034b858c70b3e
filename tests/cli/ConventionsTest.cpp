// The Unix conventions of diskwright-cli: streams, the error form, names and patterns, JSON
// documents, space compression on import, and the bash completion.

#include "cli/Cli.h"
#include "engine/Format.h"
#include "tests/cli/CliRun.h"
#include "tests/support/ImageBuilder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <random>

#include <sys/stat.h>

using namespace dwtest;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using nlohmann::json;
using ::testing::HasSubstr;

namespace {

// README.TXT (text), GAME.BIN (random), LIST (no extension) and notes.txt (lower case).
std::string sampleImage(const std::string& name = "conventions.dsk") {
    ImageBuilder b = ImageBuilder::formatted(10, 10);
    b.addFile("README", "TXT", {'H', 'I', 0x0D});
    b.addFile("GAME", "BIN", Bytes(300, 0x01), true);
    b.addFile("LIST", "", {'L', 0x0D});
    b.addFile("notes", "txt", {'n', 0x0D});
    return b.save(tempPath(name));
}

// The names a --json export lists, in order.
std::string exportedNames(const std::string& image, const std::string& pattern) {
    const fs::path dir = tempPath("names");
    CliRun run = cli({"export", image, pattern, "-o", dir.string() + "/", "--json"});
    std::string names;
    const json document = json::parse(run.out);
    for (const json& file : document["files"])
        names += (names.empty() ? "" : " ") + file["name"].get<std::string>() + "." +
                 file["extension"].get<std::string>();
    return names;
}

} // namespace

TEST(CliStreams, DataOnStdoutReportsOnStderr) {
    const std::string image = sampleImage();
    CliRun piped = cli({"export", image, "README.TXT", "-o", "-"});
    EXPECT_EQ(piped.code, 0) << piped.err;
    EXPECT_EQ(piped.out, "HI\r\n" + std::string(249, '\0'));
    EXPECT_EQ(piped.err, "README.TXT -> standard output (text)\n");

    EXPECT_EQ(cli({"-q", "export", image, "README.TXT", "-o", "-"}).err, "");
    EXPECT_EQ(cli({"export", image, "README.TXT", "-o", "-", "--quiet"}).err, "");
    CliRun verbose = cli({"export", image, "GAME.BIN", "-o", "-", "-v"});
    EXPECT_EQ(verbose.out.size(), 2u * 252u);
    EXPECT_THAT(verbose.err, HasSubstr("GAME.BIN: sectors 001-002..001-003\n"));

    // Several files cannot share standard output.
    EXPECT_EQ(cli({"export", image, "--all", "-o", "-"}).code, 2);
    EXPECT_EQ(cli({"export", image, "README.TXT", "-o", "-", "--json"}).code, 2);
    CliRun two = cli({"export", image, "*.txt", "-o", "-"});
    EXPECT_EQ(two.code, 1);
    EXPECT_EQ(two.out, "");
    EXPECT_THAT(two.err, HasSubstr("2 match: README.TXT notes.txt; nothing exported"));

    // "-" imports standard input, under the name --name gives.
    CliRun in = cli({"import", image, "-", "--name", "piped.txt"}, "one\ntwo\n");
    EXPECT_EQ(in.code, 0) << in.err;
    EXPECT_EQ(in.err, "standard input -> PIPED.TXT (1 sector)\n");
    EXPECT_EQ(cli({"cat", image, "piped.txt"}).out, "one\r\ntwo\r\n");
    EXPECT_EQ(cli({"import", image, "-"}, "x").code, 2);
    CliRun empty = cli({"import", image, "-", "--name", "empty.txt"}, "");
    EXPECT_EQ(empty.code, 1);
    EXPECT_THAT(empty.err, HasSubstr(": standard input: standard input is empty"));

    // "create -" writes to standard output the image a file would get, and no file "-".
    const std::string made = tempPath("stdout-twin.dsk");
    fs::remove(made);
    ASSERT_EQ(cli({"create", made, "--tracks", "35"}).code, 0);
    CliRun created = cli({"create", "-", "--tracks", "35"});
    EXPECT_EQ(created.code, 0) << created.err;
    EXPECT_EQ(created.out, readFileText(made));
    EXPECT_THAT(created.err, HasSubstr("Wrote to standard output: FLEX, 35 tracks"));
    EXPECT_FALSE(fs::exists("-"));
    EXPECT_EQ(cli({"create", "-", "--json"}).code, 2);
}

TEST(CliStreams, BuiltProgramPipesOneFileAlone) {
    const std::string image = sampleImage("pipe.dsk");
    const std::string out = tempPath("pipe.out");
    const std::string err = tempPath("pipe.err");
    const std::string command = std::string("\"") + DW_CLI_PROGRAM + "\" export \"" + image +
                                "\" game.bin -o - > \"" + out + "\" 2> \"" + err + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readFileText(out), std::string(300, '\x01') + std::string(2 * 252 - 300, '\0'));
    EXPECT_EQ(readFileText(err), "GAME.BIN -> standard output (binary)\n");
}

// Every failure: one line on stderr that names the file and the deciding fact, nothing on
// stdout, and the image left as it was.
TEST(CliErrors, OneFormWithTheDecidingFact) {
    const std::string image = sampleImage("errors.dsk");
    const Bytes before = readFileBytes(image);
    const std::string shortFile = tempPath("short.bin");
    writeFileBytes(shortFile, Bytes(100, 'x'));
    const std::string zeroSectors = tempPath("zero.bin");
    writeFileBytes(zeroSectors, Bytes(4096, 0));
    const std::string missing = tempPath("missing.dsk");
    // Another system's disk: 100 bytes short of its geometry, month 67 and day 41.
    Bytes otherBytes = before;
    otherBytes.resize(otherBytes.size() - 100);
    otherBytes[dw::SirOffset + 19] = 67;
    otherBytes[dw::SirOffset + 20] = 41;
    const std::string other = tempPath("other.dsk");
    writeFileBytes(other, otherBytes);
    const fs::path folder = tempFolder("a-folder");
    const fs::path fifo = folder / "PIPE.TXT";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0); // no writer: an open for reading would wait
    const std::string notRegular =
        ": is not a regular file (a device or pipe); nothing was imported";
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string err; // the start of stderr, after "diskwright-cli: "
    };
    const Case cases[] = {
        {{"frob", image}, 2, "unknown command 'frob'\nThe commands are: info, list"},
        {{}, 2, "no command given\n"},
        {{"info", missing}, 1, missing + ": cannot open: No such file or directory\n"},
        {{"list", shortFile}, 1, shortFile + ": not a FLEX disk image: the file is too short (100"},
        {{"check", zeroSectors},
         1,
         zeroSectors + ": not a FLEX disk image: the System Information Record gives 0 sectors "
                       "per track\n"},
        {{"list", other},
         1,
         other + ": not a FLEX disk image: the file is " + std::to_string(otherBytes.size()) +
             " bytes long, which fits no layout of its geometry, and its creation date (67/41) "
             "is no date\n"},
        {{"cat", image, "NONE.TXT"}, 1, image + ": NONE.TXT: no such file on the disk image\n"},
        {{"import", image, folder.string()},
         1,
         image + ": " + folder.string() + ": is a folder; nothing was imported\n"},
        {{"import", image, fifo.string()}, 1, image + ": " + fifo.string() + notRegular},
        {{"list", fifo.string()},
         1,
         fifo.string() + ": not a regular file (a folder, device or pipe); it was not opened\n"},
        {{"import", image, "/dev/null"}, 1, image + ": /dev/null" + notRegular},
        {{"import", image, missing},
         1,
         image + ": " + missing + ": cannot open; nothing was imported: No such file"},
        {{"export", image, "--mode", "raw"}, 2, "--mode: raw not in"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err);
        CliRun run = cli(c.args);
        EXPECT_EQ(run.code, c.code);
        EXPECT_EQ(run.err.substr(0, 16 + c.err.size()), "diskwright-cli: " + c.err);
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(readFileBytes(image), before);
}

TEST(CliNames, AnyLetterCaseAndPatterns) {
    const std::string image = sampleImage("names.dsk");
    const std::pair<std::string, std::string> cases[] = {
        {"readme.txt", "README.TXT"},
        {"NOTES.TXT", "notes.txt"},
        {"list", "LIST."},
        {"*.TXT", "README.TXT notes.txt"},
        {"?AME.*", "GAME.BIN"},
        {"[gl]*", "GAME.BIN LIST."},
        {"*", "README.TXT GAME.BIN LIST. notes.txt"},
    };
    for (const auto& [pattern, names] : cases)
        EXPECT_EQ(exportedNames(image, pattern), names) << pattern;

    CliRun none = cli({"export", image, "*.cmd", "readme.txt", "-o", tempPath("none")});
    EXPECT_EQ(none.code, 1);
    EXPECT_THAT(none.err, HasSubstr(": no file matches '*.cmd'\n"));
    EXPECT_THAT(none.err, HasSubstr("README.TXT -> ")); // the others are still exported
    EXPECT_EQ(cli({"cat", image, "*.TXT"}).out, "HI\r\nn\r\n");
}

TEST(CliNames, DeleteListsWhatAPatternFoundBeforeAsking) {
    const std::string image = sampleImage("delete-pattern.dsk");
    const Bytes before = readFileBytes(image);
    CliRun no = cli({"delete", image, "*.txt"}, "n\n", true);
    EXPECT_EQ(no.code, 1);
    EXPECT_THAT(no.err,
                HasSubstr("To delete (2 files): README.TXT notes.txt\nAre you sure? [y/N]"));
    EXPECT_EQ(readFileBytes(image), before);

    CliRun yes = cli({"delete", image, "*.txt", "--yes", "-v"});
    EXPECT_EQ(yes.code, 0) << yes.err;
    EXPECT_THAT(yes.err, HasSubstr("README.TXT notes.txt\nDeleted README.TXT\n"));
    EXPECT_THAT(yes.err, HasSubstr("README.TXT: entry marked deleted; sectors 001-001 joined"));
    EXPECT_EQ(cli({"list", image, "--names"}).out, "GAME.BIN\nLIST.\n");
    EXPECT_EQ(cli({"delete", image, "*.txt", "--yes"}).code, 1);
    EXPECT_EQ(cli({"check", image}).code, 0);
}

TEST(CliJson, EveryDocumentParsesAndCarriesItsKeys) {
    const std::string image = sampleImage("json.dsk");
    const std::string host = tempPath("json-host.txt");
    writeFileText(host, "ab\n");
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> keys;
    };
    const Case cases[] = {
        {{"info", image}, {"volumeLabel", "creationDate", "remainingSectors", "firstFreeLink"}},
        {{"list", image}, {"volumeLabel", "fileCount", "files"}},
        {{"check", image}, {"clean", "findings"}},
        {{"export", image, "readme.txt", "-o", tempPath("json-out")}, {"files"}},
        {{"import", image, host, "--name", "host.txt"}, {"files", "remainingSectors"}},
        {{"delete", image, "GAME.BIN", "--yes"}, {"files", "remainingSectors"}},
        {{"create", tempPath("json-new.dsk"), "--tracks", "35"},
         {"layout", "tracks", "sectorsPerTrack"}},
        {{"repair", image, "--yes"}, {"needed", "repaired"}},
        {{"link", image, "README.TXT"}, {"name", "start"}},
        {{"info", tempPath("json-missing.dsk")}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        std::vector<std::string> args = c.args;
        args.push_back("--json");
        CliRun run = cli(args);
        const json document = json::parse(run.out); // throws on anything but one document
        EXPECT_EQ(document["format"], "diskwright/1");
        EXPECT_EQ(document["command"], c.args[0]);
        EXPECT_EQ(document["ok"], run.code == 0) << run.out;
        EXPECT_EQ(document["errors"].empty(), run.code == 0) << run.out;
        for (const std::string& key : c.keys)
            EXPECT_TRUE(document.contains(key)) << key;
        for (const json& file : document.value("files", json::array())) {
            EXPECT_TRUE(file.contains("name")) << file;
            EXPECT_EQ(file.contains("status"), c.args[0] != "list") << file;
        }
    }

    const json list = json::parse(cli({"list", sampleImage("json-list.dsk"), "--json"}).out);
    EXPECT_EQ(list["files"][0]["start"], "001-001");
    EXPECT_EQ(list["files"][0]["startLink"], (json{{"track", 1}, {"sector", 1}}));
    EXPECT_EQ(list["files"][0]["name"], "README");
    EXPECT_EQ(list["files"][1]["extension"], "BIN");
    EXPECT_EQ(list["files"][1]["random"], true);

    // A finding names its kind and its sectors; bytes of names survive as \u00XX.
    ImageBuilder b = ImageBuilder::formatted(5, 10);
    b.addFile("N\xe9", "TXT", Bytes(600, 'a'));
    b.setLink({1, 2}, {0, 0});
    CliRun check = cli({"check", b.save(tempPath("json-damaged.dsk")), "--json"});
    EXPECT_EQ(check.code, 1);
    EXPECT_THAT(check.out, HasSubstr("\"text\":\"N\\u00e9.TXT: the chain holds 2 sectors"));
    const json findings = json::parse(check.out)["findings"];
    EXPECT_EQ(findings[0]["kind"], "chain-length");
    EXPECT_EQ(findings[1]["kind"], "chain-end");
    EXPECT_EQ(findings[1]["sectors"],
              (json::array({{{"track", 1}, {"sector", 2}}, {{"track", 1}, {"sector", 3}}})));
}

// For any text of printable ASCII and line ends, a compressed import read back in text mode
// gives the text with CR LF line ends, then the last sector's NUL padding; and it never takes
// more sectors than an uncompressed import.
TEST(CliCompression, ImportThenExportGivesTheTextBack) {
    std::mt19937 rng(1234);
    const std::string lineEnds[] = {"\n", "\r\n", "\r"};
    const std::string host = tempPath("compress.txt");
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::string text, expected;
        for (int i = 0, pieces = static_cast<int>(rng() % 200); i < pieces; ++i) {
            const auto what = rng() % 10;
            if (what < 3) { // one line end convention per text
                text += lineEnds[round % 3];
                expected += "\r\n";
            } else {
                const std::string piece = what < 6 ? std::string(rng() % (rng() % 4 ? 6 : 600), ' ')
                                                   : std::string(1, char(0x21 + rng() % 94));
                text += piece;
                expected += piece;
            }
        }
        text += "end";
        expected += "end";
        const std::string image =
            ImageBuilder::formatted(35, 10).save(tempPath("compress-" + std::to_string(round)));
        writeFileText(host, text);

        CliRun in = cli({"import", image, host, "--compress-spaces", "--name", "C.TXT", "--json"});
        ASSERT_EQ(in.code, 0) << in.err;
        CliRun plain = cli({"import", image, host, "--name", "P.TXT", "--json"});
        EXPECT_LE(json::parse(in.out)["files"][0]["sectors"].get<int>(),
                  json::parse(plain.out)["files"][0]["sectors"].get<int>());

        const std::string back = cli({"export", image, "C.TXT", "-o", "-", "--mode", "text"}).out;
        ASSERT_GE(back.size(), expected.size());
        EXPECT_EQ(back.substr(0, expected.size()), expected);
        EXPECT_EQ(back.find_first_not_of('\0', expected.size()), std::string::npos);
        EXPECT_LT(back.size() - expected.size(), 252u);
    }
    // What is stored: a run of spaces as a marker and its count.
    const std::string image = ImageBuilder::formatted(35, 10).save(tempPath("compress-bytes"));
    CliRun in = cli({"import", image, "-", "--name", "S.TXT", "--compress-spaces"}, "a   b\n");
    ASSERT_EQ(in.code, 0) << in.err;
    const std::string stored = cli({"export", image, "S.TXT", "-o", "-", "--no-expand-tabs"}).out;
    EXPECT_EQ(stored.substr(0, 5), std::string("a\x09\x03") + "b\r");
    in = cli({"import", image, "-", "--name", "B", "--compress-spaces", "--mode", "binary"});
    EXPECT_EQ(in.code, 2);
}

// Only the chosen command's options are built, so the program's own options and every command's
// help must still be there when asked for.
TEST(CliHelp, EveryCommandDescribedAndNoParserNotes) {
    const std::string image = sampleImage("help.dsk");
    EXPECT_EQ(cli({"-q", "info", image}).code, 0);
    EXPECT_THAT(cli({"-q", "--version"}).out, ::testing::StartsWith("diskwright-cli "));
    const CliRun all = cli({"--help-all"});
    EXPECT_EQ(all.code, 0);
    for (const char* option : {"--compress-spaces", "--track0-sectors", "--jobs", "--names"})
        EXPECT_THAT(all.out, HasSubstr(option));
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"import", "--help"}, {"export", "--help"}}) {
        const std::string help = cli(args).out;
        for (const char* note : {"REQUIRED", "{false}", "Excludes", "TEXT:"})
            EXPECT_THAT(help, ::testing::Not(HasSubstr(note))) << args[0];
    }
}

TEST(CliCompletion, CompletesCommandsOptionsAndNamesOnTheImage) {
    if (std::system("command -v bash > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "no bash";
    const std::string image = sampleImage("complete.dsk");
    const std::string out = tempPath("complete.out");
    // Runs the completion function as bash would for the words given, one candidate a line.
    auto complete = [&](const std::string& words) {
        const std::string script = tempPath("complete.sh");
        writeFileText(script, "source '" DW_COMPLETION_FILE "'\nCOMP_WORDS=('" DW_CLI_PROGRAM "' " +
                                  words +
                                  ")\nCOMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n_diskwright_cli\n"
                                  "printf '%s\\n' \"${COMPREPLY[@]}\"\n");
        EXPECT_EQ(std::system(("bash '" + script + "' > '" + out + "' 2>&1").c_str()), 0);
        return readFileText(out);
    };
    EXPECT_EQ(complete("ex"), "export\n");
    EXPECT_EQ(complete("rep"), "repair\n");
    EXPECT_THAT(complete("export " + image + " --mo"), HasSubstr("--mode\n"));
    EXPECT_EQ(complete("export " + image + " RE"), "README.TXT\n");
    EXPECT_EQ(complete("delete " + image + " G"), "GAME.BIN\n");
    EXPECT_EQ(complete("export " + image + " --to ''"), "s19\nihex\nbin\n");
}
