#include "cli/Cli.h"
#include "tests/cli/CliRun.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include <csignal>

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace dwtest;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::string contents(const fs::path& path) {
    auto bytes = readFileBytes(path.string());
    return {bytes.begin(), bytes.end()};
}

fs::path freshFolder(const std::string& name) {
    fs::path dir = tempPath(name);
    fs::create_directories(dir);
    return dir;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// "A/B.TXT" and "A_B.TXT" come to one host name; "DUP.TXT" is there twice.
std::string collidingImage() {
    ImageBuilder b = ImageBuilder::formatted(10, 10);
    b.addFile("A/B", "TXT", {'1', 0x0D});
    b.addFile("A_B", "TXT", {'2', 0x0D});
    b.addFile("DUP", "TXT", {'3', 0x0D});
    b.addFile("DUP", "TXT", {'4', 0x0D});
    return b.save(tempPath("colliding.dsk"));
}

} // namespace

TEST(CliHostFiles, LinksAreRefusedOrReplacedAndModesKept) {
    const std::string image = collidingImage();
    const fs::path dir = freshFolder("cli-links");
    const fs::path outside = freshFolder("cli-links-outside") / "victim";
    writeFileBytes(outside.string(), {'v'});
    const fs::path link = dir / "A_B.TXT";
    fs::create_symlink(outside, link);

    CliRun refused = cli({"export", image, "A_B.TXT", "-o", link.string()});
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(has(refused.err, "is a symbolic link; nothing was written through it (use "
                                 "--force)"))
        << refused.err;
    CliRun intoFolder = cli({"export", image, "A_B.TXT", "-o", dir.string() + "/"});
    EXPECT_EQ(intoFolder.code, 1);
    EXPECT_TRUE(fs::is_symlink(link));

    CliRun forced = cli({"export", image, "A_B.TXT", "-o", link.string(), "--force"});
    EXPECT_EQ(forced.code, 0) << forced.err;
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(contents(link).substr(0, 3), "2\r\n");
    EXPECT_EQ(contents(outside), "v");

    fs::permissions(link, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(cli({"export", image, "DUP.TXT", "-o", link.string(), "--force"}).code, 0);
    EXPECT_EQ(fs::status(link).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(contents(link).substr(0, 3), "3\r\n");
}

TEST(CliHostFiles, TwoFilesOfOneHostNameNeverOverwriteEachOther) {
    const std::string image = collidingImage();
    for (bool force : {false, true}) {
        const fs::path dir = freshFolder("cli-collide");
        std::vector<std::string> args = {"export", image, "--all", "-o", dir.string(), "--json"};
        if (force)
            args.push_back("--force");
        CliRun run = cli(args);
        EXPECT_EQ(run.code, 1);
        EXPECT_TRUE(has(run.err, "A_B.TXT: " + (dir / "A_B.TXT").string() +
                                     " already holds A/B.TXT from this export; A_B.TXT was not "
                                     "exported"))
            << run.err;
        EXPECT_TRUE(has(run.err, "DUP.TXT: " + (dir / "DUP.TXT").string() +
                                     " already holds DUP.TXT from this export"))
            << run.err;
        EXPECT_EQ(contents(dir / "A_B.TXT").substr(0, 3), "1\r\n"); // the first stays
        EXPECT_EQ(contents(dir / "DUP.TXT").substr(0, 3), "3\r\n");
        EXPECT_TRUE(has(run.out, "\"status\":\"failed\"")) << run.out;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 2);
    }
}

// Standard output on a full disk: every command that prints data fails and says so.
TEST(CliHostFiles, OutputThatCannotBeWrittenIsAFailure) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    const std::string image = collidingImage();
    const std::string err = tempPath("full.err");
    const std::vector<std::vector<std::string>> commands = {{"list", image},
                                                            {"list", image, "--json"},
                                                            {"list", image, "--names"},
                                                            {"info", image},
                                                            {"info", image, "--json"},
                                                            {"check", image, "--json"},
                                                            {"cat", image, "A_B.TXT"},
                                                            {"export", image, "A_B.TXT", "-o", "-"},
                                                            {"--version"}};
    for (const std::vector<std::string>& args : commands) {
        std::string command;
        for (const std::string& arg : args)
            command += " '" + arg + "'";
        const std::string line =
            std::string("'") + DW_CLI_PROGRAM + "'" + command + " > /dev/full 2> '" + err + "'";
        const int status = std::system(line.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << command << ": " << status;
        EXPECT_TRUE(has(contents(err), "diskwright-cli: standard output: the output could not be "
                                       "written"))
            << command << ": " << contents(err);
    }
}

TEST(CliHostFiles, ImportTakesOnlyRegularFiles) {
    const std::string image = collidingImage();
    const fs::path dir = freshFolder("cli-import-sources");
    const fs::path fifo = dir / "PIPE.TXT";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0); // no writer: an open for reading would wait
    const Bytes before = readFileBytes(image);
    struct Case {
        std::string source;
        std::string message;
    };
    for (const Case& c : {Case{fifo.string(), "is not a regular file (a device or pipe)"},
                          Case{"/dev/null", "is not a regular file (a device or pipe)"},
                          Case{dir.string(), "is a folder"}}) {
        CliRun run = cli({"import", image, c.source, "--name", "X.TXT"});
        EXPECT_EQ(run.code, 1) << c.source;
        EXPECT_TRUE(has(run.err, c.source + ": " + c.message + "; nothing was imported"))
            << run.err;
    }
    EXPECT_EQ(readFileBytes(image), before);
}

// Ctrl+C while standard input is still coming in leaves no copy of it in the temporary folder.
TEST(CliHostFiles, InterruptedStdinImportLeavesNoCopy) {
    const std::string image = collidingImage();
    const fs::path temp = freshFolder("cli-stdin-temp");
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(input[0], 0);
        ::close(input[1]);
        ::setenv("TMPDIR", temp.c_str(), 1);
        ::execl(DW_CLI_PROGRAM, DW_CLI_PROGRAM, "import", image.c_str(), "-", "--name", "IN.TXT",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(input[0]);
    const std::string text(1000, 'a');
    ASSERT_EQ(::write(input[1], text.data(), text.size()), 1000);
    int unread = 1;
    for (int wait = 0; wait < 1000 && unread > 0; ++wait) { // until the child has read it
        ::ioctl(input[1], FIONREAD, &unread);
        ::usleep(10000);
    }
    ::kill(child, SIGINT);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(input[1]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_EQ(std::distance(fs::directory_iterator(temp), {}), 0);
}
