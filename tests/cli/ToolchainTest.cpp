// What the command line adds to the cross-development road: program files in and out, the
// boot link, line ends for Unix tools and kept dates.

#include "cli/Cli.h"
#include "tests/cli/CliRun.h"
#include "tests/support/ImageBuilder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>

using namespace dwtest;
using ::testing::HasSubstr;

namespace {

std::time_t utc(int year, int month, int day, int hour) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    return timegm(&parts);
}

void setModified(const std::string& path, std::time_t when) {
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::time_t modified(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mtime;
}

// Five hours behind UTC all year, named without the zone database.
struct FixedTimeZone {
    FixedTimeZone() {
        const char* old = std::getenv("TZ");
        had = old != nullptr;
        before = old ? old : "";
        ::setenv("TZ", "EST5", 1);
        ::tzset();
    }
    ~FixedTimeZone() {
        had ? ::setenv("TZ", before.c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }
    bool had;
    std::string before;
};

} // namespace

TEST(CliToolchain, FromAssemblerToABootingDisk) {
    const std::string image = tempPath("toolchain.dsk");
    ASSERT_EQ(cli({"create", image, "--sides", "1", "--tracks", "35"}).code, 0);
    const std::string s19 = "S0030000FC\nS107C100BDC1002099\nS903C1003B\n";
    CliRun in = cli({"import", image, "-", "--from", "s19", "--name", "hello.sys"}, s19);
    ASSERT_EQ(in.code, 0) << in.err;
    EXPECT_EQ(in.err, "standard input -> HELLO.SYS (1 sector)\n");
    const std::string hex = (tempFolder("hex") / "prog.hex").string();
    writeFileText(hex, ":03200000010203D7\n:00000001FF\n"); // no start: --start gives one
    in = cli({"import", image, hex, "--from", "ihex", "--start", "$2001"});
    ASSERT_EQ(in.code, 0) << in.err;
    EXPECT_EQ(in.err, hex + " -> PROG.CMD (1 sector)\n");

    CliRun linked = cli({"link", image, "prog.cmd"});
    EXPECT_EQ(linked.code, 0) << linked.err;
    EXPECT_EQ(linked.err, "The boot sector now starts PROG.CMD at 001-002\n");
    const std::vector<std::uint8_t> bytes = readFileBytes(image);
    EXPECT_EQ(bytes[5], 1);
    EXPECT_EQ(bytes[6], 2);

    EXPECT_EQ(cli({"export", image, "prog.cmd", "--to", "s19", "-o", "-"}).out,
              "S00B000050524F472E434D44BA\nS1062000010203D3\nS9032001DB\n");
    EXPECT_EQ(cli({"export", image, "hello.sys", "--to", "ihex", "-o", "-"}).out,
              ":04C10000BDC100209D\n:040000050000C10036\n:00000001FF\n");
    const std::filesystem::path folder = tempFolder("programs");
    CliRun out = cli({"export", image, "*", "--to", "bin", "-o", folder.string()});
    EXPECT_EQ(out.code, 0) << out.err;
    EXPECT_EQ(readFileText(folder / "PROG.bin"), "\x01\x02\x03");
    EXPECT_EQ(readFileText(folder / "HELLO.bin"), std::string("\xBD\xC1\0 ", 4));

    // A bad record changes nothing; a missing end record is only a warning.
    const std::vector<std::uint8_t> before = readFileBytes(image);
    const std::string bad = tempPath("bad.s19");
    writeFileText(bad, "S0030000FC\r\nS107C100BDC100209A\r\n");
    CliRun refused = cli({"import", image, bad, "--from", "s19"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err, "diskwright-cli: " + image + ": " + bad +
                               ": line 2: the checksum is 9A, the bytes give 99; nothing was "
                               "imported\n");
    EXPECT_EQ(readFileBytes(image), before);
    CliRun warned = cli({"import", image, "-", "--from", "s19", "--name", "x.cmd"}, "S1042000DB00");
    EXPECT_EQ(warned.code, 0) << warned.err;
    EXPECT_THAT(warned.err, HasSubstr(": standard input: warning: no end record"));

    for (const std::vector<std::string>& usage :
         {std::vector<std::string>{"import", image, hex, "--from", "s19", "--mode", "text"},
          {"import", image, hex, "--start", "2000"},
          {"import", image, hex, "--from", "ihex", "--start", "10000"},
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
    EXPECT_EQ(cli({"export", image, "readme.txt", "-o", "-", "--newline", "lf"}).out, "HI\n");
    EXPECT_EQ(cli({"export", image, "readme.txt", "-o", "-", "--newline", "cr"}).out,
              "HI\r" + std::string(249, '\0'));

    const FixedTimeZone zone;
    const std::filesystem::path folder = tempFolder("dates");
    CliRun out = cli({"export", image, "*", "-o", folder.string(), "--keep-dates"});
    EXPECT_EQ(out.code, 0) << out.err;
    EXPECT_EQ(modified((folder / "README.TXT").string()), utc(2003, 1, 2, 17)); // noon EST
    EXPECT_THAT(out.err, HasSubstr("ODD.TXT: warning: its date 2003-13-02 is no date; "));

    // 2001-02-04 03:00 UTC is still 2001-02-03 in EST.
    const std::string host = (tempFolder("old") / "old.txt").string();
    writeFileText(host, "old\n");
    setModified(host, utc(2001, 2, 4, 3));
    ASSERT_EQ(cli({"import", image, host, "--keep-dates"}).code, 0);
    EXPECT_THAT(cli({"list", image}).out, HasSubstr("OLD        TXT     2001-02-03"));
    setModified(host, utc(1969, 6, 1, 12));
    CliRun refused = cli({"import", image, host, "--keep-dates", "--name", "older.txt"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_THAT(refused.err, HasSubstr("was last changed in 1969, a year a FLEX date cannot "
                                       "hold (1970-2069); OLDER.TXT was not imported"));
}
