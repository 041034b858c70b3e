#include "tests/cli/CliRun.h"
#include "tests/support/ImageBuilder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace dwtest;
using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;

// copy, rename, label and undelete: each refusal exits with its code and names why, and leaves
// both images as they were. SOURCE holds ONE.TXT, TWO.TXT and two deleted files: ?EPT.TXT can
// come back, ?OST.TXT's sector carries another record number. TARGET holds TWO.TXT and one
// free sector.
TEST(CliDiskManagement, Refusals) {
    ImageBuilder s = ImageBuilder::formatted(4, 10);
    s.addFile("ONE", "TXT", Bytes(3 * 252, '1'));
    s.addFile("TWO", "TXT", Bytes(2 * 252, '2'));
    s.addFile("KEPT", "TXT", Bytes(252, 'k'));
    s.addFile("LOST", "TXT", Bytes(252, 'l'));
    const std::string source = s.save(tempPath("source.dsk"));
    ASSERT_EQ(cli({"delete", source, "KEPT.TXT", "LOST.TXT", "--yes"}).code, 0);
    Bytes sourceBytes = readFileBytes(source);
    sourceBytes[s.offset({1, 7}) + 3] = 9; // LOST's only sector, now record 9
    ImageBuilder fixed(4, 10);
    fixed.bytes() = sourceBytes;
    fixed.save(source);
    ImageBuilder t = ImageBuilder::formatted(2, 10);
    t.addFile("TWO", "TXT", Bytes(10, '2'));
    t.addFile("FILL", "BIN", Bytes(8 * 252, 'f'));
    const std::string target = t.save(tempPath("target.dsk"));

    struct Case {
        std::vector<std::string> args; // SOURCE and TARGET stand for the paths
        int code;
        std::string err; // a part of stderr
    };
    const std::string unchanged = "; nothing was changed";
    const Case cases[] = {
        {{"copy", "SOURCE", "two.txt", "--to", "TARGET"},
         1,
         "TWO.TXT is already on the disk" + unchanged + " (use --replace)"},
        {{"copy", "SOURCE", "ONE.TXT", "--to", "TARGET"},
         1,
         "ONE.TXT needs 3 sectors, and 1 is free" + unchanged},
        {{"copy", "SOURCE", "ONE.TXT", "--to", "SOURCE"}, 1, "is the source image itself"},
        {{"copy", "SOURCE", "NOPE.TXT", "--to", "TARGET"}, 1, "NOPE.TXT: no such file"},
        {{"copy", "SOURCE", "ONE.TXT"}, 2, "--to is required"},
        {{"rename", "SOURCE", "one.txt", "two.txt"}, 1, "TWO.TXT is already on the disk"},
        {{"rename", "SOURCE", "ONE.TXT", "ONE.TEXT"}, 1, "\"ONE.TEXT\" is not a FLEX file name"},
        {{"rename", "SOURCE", "NOPE.TXT", "NEW.TXT"}, 1, "NOPE.TXT is not on the disk"},
        {{"label", "SOURCE", "--date", "2070-01-01"}, 1, "outside the years 1970 to 2069"},
        {{"label", "SOURCE", "--date", "2023-02-29"}, 1, "2023-02-29 is no date"},
        {{"label", "SOURCE", "--date", "2023-2-9"}, 2, "not a date YYYY-MM-DD"},
        {{"label", "SOURCE", "--label", "TWELVECHARS!"}, 1, "is no volume label"},
        {{"label", "SOURCE", "--number", "65536"}, 2, "not in range 0 to 65535"},
        {{"label", "SOURCE"}, 2, "give --label, --number or --date"},
        {{"undelete", "SOURCE", "?NE.TXT", "--as", "X.TXT"}, 1, "no deleted file matches"},
        {{"undelete", "SOURCE", "?*", "--as", "X.TXT"}, 1, "matches 2 deleted files"},
        {{"undelete", "SOURCE", "?EPT.TXT", "--as", "one.txt"},
         1,
         "?EPT.TXT cannot come back as ONE.TXT: a file of that name is on the disk"},
        {{"undelete", "SOURCE", "?EPT.TXT", "--as", "A.B.C"}, 1, "is not a FLEX file name"},
        {{"undelete", "SOURCE", "?OST.TXT", "--as", "LOST.TXT"},
         1,
         "?OST.TXT cannot come back: its sector 001-007 holds record 9, not 1"},
        {{"undelete", "SOURCE", "?EPT.TXT"}, 2, "--as is required"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        for (std::string& a : args)
            a = a == "SOURCE" ? source : a == "TARGET" ? target : a;
        const CliRun run = cli(args);
        SCOPED_TRACE(c.args.front() + " " + c.args.back() + ": " + run.err);
        EXPECT_EQ(run.code, c.code);
        EXPECT_THAT(run.err, HasSubstr(c.err));
        EXPECT_EQ(readFileBytes(source), sourceBytes);
        EXPECT_EQ(readFileBytes(target), t.bytes());
    }

    // What the command line adds: deleted rows in the listing, and NAME matched in any case.
    const nlohmann::json listed =
        nlohmann::json::parse(cli({"list", source, "--deleted", "--json"}).out);
    ASSERT_EQ(listed["files"].size(), 4u);
    EXPECT_EQ(listed["files"][2]["name"], "?EPT");
    EXPECT_EQ(listed["files"][2]["recoverable"], true);
    EXPECT_EQ(listed["files"][3]["recoverable"], false);
    const CliRun undeleted = cli({"undelete", source, "?ept.txt", "--as", "kept.txt"});
    EXPECT_EQ(undeleted.code, 0) << undeleted.err;
    EXPECT_EQ(undeleted.err, "?EPT.TXT -> KEPT.TXT (1 sector)\n");
    EXPECT_EQ(cli({"check", source}).code, 0);
}
