#include "cli/Cli.h"
#include "tests/cli/CliRun.h"
#include "tests/support/ImageBuilder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace dwtest;
namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

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

TEST(CliHostFiles, LinksAreRefusedWithoutForceAndReplacedWithIt) {
    const std::string image = collidingImage();
    const fs::path dir = tempFolder("cli-links");
    const fs::path outside = tempFolder("cli-links-outside") / "victim";
    writeFileText(outside, "v");
    const fs::path link = dir / "A_B.TXT";
    fs::create_symlink(outside, link);

    CliRun refused = cli({"export", image, "A_B.TXT", "-o", link.string()});
    EXPECT_EQ(refused.code, 1);
    EXPECT_THAT(refused.err,
                HasSubstr("is a symbolic link; nothing was written through it (use --force)"));
    EXPECT_EQ(cli({"export", image, "A_B.TXT", "-o", dir.string() + "/"}).code, 1);

    CliRun forced = cli({"export", image, "A_B.TXT", "-o", link.string(), "--force"});
    EXPECT_EQ(forced.code, 0) << forced.err;
    EXPECT_EQ(readFileText(link).substr(0, 3), "2\r\n");
    EXPECT_EQ(readFileText(outside), "v");
}

TEST(CliHostFiles, TwoFilesOfOneHostNameNeverOverwriteEachOther) {
    const std::string image = collidingImage();
    for (bool force : {false, true}) {
        const fs::path dir = tempFolder("cli-collide");
        std::vector<std::string> args = {"export", image, "--all", "-o", dir.string(), "--json"};
        if (force)
            args.push_back("--force");
        CliRun run = cli(args);
        EXPECT_EQ(run.code, 1);
        EXPECT_THAT(run.err, HasSubstr("A_B.TXT: " + (dir / "A_B.TXT").string() +
                                       " already holds A/B.TXT from this export; A_B.TXT was not "
                                       "exported"));
        EXPECT_THAT(run.err, HasSubstr("DUP.TXT: " + (dir / "DUP.TXT").string() +
                                       " already holds DUP.TXT from this export"));
        EXPECT_EQ(readFileText(dir / "A_B.TXT").substr(0, 3), "1\r\n"); // the first stays
        EXPECT_EQ(readFileText(dir / "DUP.TXT").substr(0, 3), "3\r\n");
        EXPECT_THAT(run.out, HasSubstr("\"status\":\"failed\""));
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
        std::string command = std::string("'") + DW_CLI_PROGRAM + "'";
        for (const std::string& arg : args)
            command += " '" + arg + "'";
        SCOPED_TRACE(command);
        const int status = std::system((command + " > /dev/full 2> '" + err + "'").c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        EXPECT_THAT(readFileText(err),
                    HasSubstr("diskwright-cli: standard output: the output could not be written"));
    }
}

// Ctrl+C while standard input is still coming in leaves no copy of it in the temporary folder.
TEST(CliHostFiles, InterruptedStdinImportLeavesNoCopy) {
    const std::string image = collidingImage();
    const fs::path temp = tempFolder("cli-stdin-temp");
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
