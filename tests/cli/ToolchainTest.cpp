// What the command line adds to the cross-development road: program files in and out, the
// boot link, line ends for Unix tools and kept dates.

#include "cli/Cli.h"
#include "tests/cli/CliRun.h"
#include "tests/support/ImageBuilder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>

using namespace dwtest;
using ::testing::HasSubstr;

namespace {

// Five hours behind UTC all year, named without the zone database.
struct FixedTimeZone {
    FixedTimeZone() { ::setenv("TZ", "EST5", 1), ::tzset(); }
    ~FixedTimeZone() { ::unsetenv("TZ"), ::tzset(); }
};

} // namespace

TEST(CliToolchain, FromAssemblerToABootingDisk) {
    const std::string image = tempPath("toolchain.dsk");
    ASSERT_EQ(cli({"create", image, "--sides", "1", "--tracks", "35"}).code, 0);
    const std::string s19 = "S0030000FC\nS107C100BDC1002099\nS903C1003B\n";
    CliRun in = cli({"import", image, "-", "--from", "s19", "--name", "hello.sys"}, s19);
    EXPECT_EQ(in.err, "standard input -> HELLO.SYS (1 sector)\n");
    const std::string hex = (tempFolder("hex") / "prog.hex").string();
    writeFileText(hex, ":03200000010203D7\n:01200500FFDB\n:00000001FF\n"); // --start gives one
    in = cli({"import", image, hex, "--from", "ihex", "--start", "$2001"});
    EXPECT_EQ(in.err, hex + " -> PROG.CMD (1 sector)\n");

    EXPECT_EQ(cli({"link", image, "prog.cmd"}).err,
              "The boot sector now starts PROG.CMD at 001-002\n");
    EXPECT_EQ(cli({"export", image, "prog.cmd", "--to", "s19", "-o", "-"}).out,
              "S00B000050524F472E434D44BA\nS1062000010203D3\nS1042005FFD7\nS9032001DB\n");
    EXPECT_EQ(cli({"export", image, "hello.sys", "--to", "ihex", "-o", "-"}).out,
              ":04C10000BDC100209D\n:040000050000C10036\n:00000001FF\n");
    const std::filesystem::path folder = tempFolder("programs");
    EXPECT_EQ(cli({"export", image, "*", "--to", "bin", "-o", folder.string()}).code, 0);
    EXPECT_EQ(readFileText(folder / "PROG.bin"), std::string("\x01\x02\x03\0\0\xFF", 6));

    // A bad record changes nothing.
    const std::vector<std::uint8_t> before = readFileBytes(image);
    writeFileText(hex, "S0030000FC\r\nS107C100BDC100209A\r\n");
    CliRun refused = cli({"import", image, hex, "--from", "s19"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err, "diskwright-cli: " + image + ": " + hex +
                               ": line 2: the checksum is 9A, the bytes give 99; nothing was "
                               "imported\n");
    EXPECT_EQ(readFileBytes(image), before);

    for (const std::vector<std::string>& usage :
         {std::vector<std::string>{"import", image, hex, "--from", "s19", "--mode", "text"},
          {"import", image, hex, "--start", "2000"},
          {"export", image, "prog.cmd", "--to", "s19", "--mode", "binary"},
          {"export", image, "prog.cmd", "-o", "-", "--keep-dates"},
          {"cat", image, "prog.cmd", "--newline", "lf", "--add-lf"}})
        EXPECT_EQ(cli(usage).code, 2) << usage[3];
}

TEST(CliToolchain, LineFeedsAloneAndKeptDates) {
    ImageBuilder b = ImageBuilder::formatted(10, 10);
    b.addFile("README", "TXT", {'H', 'I', 0x0D}); // dated 2003-01-02
    b.addFile("ODD", "TXT", {'X', 0x0D});
    b.sector({0, 5})[16 + 24 + 21] = 13; // month 13
    const std::string image = b.save(tempPath("dates.dsk"));
    EXPECT_EQ(cli({"cat", image, "readme.txt", "--newline", "lf"}).out, "HI\n");

    const FixedTimeZone zone;
    const std::filesystem::path folder = tempFolder("dates");
    CliRun out = cli({"export", image, "*", "-o", folder.string(), "--keep-dates"});
    EXPECT_EQ(out.code, 0) << out.err;
    struct stat info {};
    ASSERT_EQ(::stat((folder / "README.TXT").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1041526800); // 2003-01-02 17:00 UTC, noon EST
    EXPECT_THAT(out.err, HasSubstr("ODD.TXT: warning: its date 2003-13-02 is no date; "));

    // 2001-02-04 03:00 UTC is still 2001-02-03 in EST; 1969 cannot be told from 2069.
    const std::string host = (tempFolder("old") / "old.txt").string();
    writeFileText(host, "old\n");
    for (const std::time_t when : {981255600, -18446400}) {
        const struct timespec times[2] = {{when, 0}, {when, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, host.c_str(), times, 0), 0);
        CliRun in = cli({"import", image, host, "--keep-dates", "--replace"});
        EXPECT_THAT(in.err, HasSubstr(when < 0 ? "was last changed in 1969, a year a FLEX date "
                                                 "cannot hold (1970-2069); OLD.TXT was not"
                                               : "old.txt -> OLD.TXT"));
    }
    EXPECT_THAT(cli({"list", image}).out, HasSubstr("OLD        TXT     2001-02-03"));
}
