#include "engine/HostFile.h"
#include "engine/Create.h"
#include "engine/Import.h"
#include "tests/support/Answers.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace dwtest;
namespace fs = std::filesystem;

namespace {

dw::Status writeText(const fs::path& path, bool replace, const std::string& text,
                     dw::Status outcome = {}) {
    return dw::writeHostFile(path, replace, [&](std::ostream& out) {
        out << text;
        return outcome;
    });
}

std::set<std::string> namesIn(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

unsigned modeOf(const fs::path& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// Every case runs with unnamed temporary files and with the named ones of file systems
// without them.
class HostFile : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { dw::useUnnamedTemporaryFiles(GetParam()); }
    void TearDown() override { dw::useUnnamedTemporaryFiles(true); }
};

} // namespace

TEST_P(HostFile, ReplacedOnlyWhenCompleteAndAsked) {
    const fs::path dir = tempFolder("hostdir");
    const fs::path file = dir / "OUT.TXT";
    ASSERT_TRUE(writeText(file, false, "first").ok());
    EXPECT_EQ(readFileText(file), "first");

    dw::Status exists = writeText(file, false, "second");
    EXPECT_EQ(exists.code(), dw::ErrorCode::Exists);
    EXPECT_EQ(exists.text(), file.string() + " already exists; it was not overwritten");
    EXPECT_EQ(readFileText(file), "first");

    // A failed copy leaves the old file and no temporary file behind.
    dw::Status failed = writeText(file, true, "partial", {dw::ErrorCode::ReadFailed, "bad read"});
    EXPECT_EQ(failed.code(), dw::ErrorCode::ReadFailed);
    EXPECT_EQ(readFileText(file), "first");
    EXPECT_EQ(namesIn(dir), std::set<std::string>{"OUT.TXT"});

    ASSERT_TRUE(writeText(file, true, "second").ok());
    EXPECT_EQ(readFileText(file), "second");
    EXPECT_EQ(namesIn(dir), std::set<std::string>{"OUT.TXT"});

    EXPECT_EQ(writeText(dir / "missing" / "X", true, "x").code(), dw::ErrorCode::OpenFailed);
    const dw::Status folder = writeText(dir, true, "x");
    EXPECT_EQ(folder.code(), dw::ErrorCode::OpenFailed);
    EXPECT_EQ(folder.text(), "Unable to open target file " + dir.string());
}

TEST_P(HostFile, SymbolicLinksAreNeverWrittenThrough) {
    const fs::path dir = tempFolder("hostlinks");
    const fs::path outside = tempFolder("hostlinks-outside") / "precious";
    writeFileText(outside, "p");
    for (const fs::path& target : {outside, dir / "dangling"}) {
        const fs::path link = dir / "LINK.TXT";
        fs::remove(link);
        fs::create_symlink(target, link);
        const dw::Status refused = writeText(link, false, "x");
        EXPECT_EQ(refused.code(), dw::ErrorCode::Exists);
        EXPECT_EQ(refused.text(), link.string() + " is a symbolic link; nothing was written "
                                                  "through it");
        EXPECT_TRUE(fs::is_symlink(link));

        ASSERT_TRUE(writeText(link, true, "new").ok());
        EXPECT_FALSE(fs::is_symlink(link));
        EXPECT_EQ(readFileText(link), "new");
        EXPECT_EQ(readFileText(outside), "p");
        EXPECT_FALSE(fs::exists(dir / "dangling"));
    }
    EXPECT_EQ(namesIn(dir), std::set<std::string>{"LINK.TXT"});
}

TEST_P(HostFile, NewFilesFollowTheUmaskAndReplacedOnesKeepTheirMode) {
    const fs::path dir = tempFolder("hostmodes");
    const mode_t saved = ::umask(022);
    ASSERT_TRUE(writeText(dir / "A", false, "a").ok());
    EXPECT_EQ(modeOf(dir / "A"), 0644u);
    ::umask(077);
    ASSERT_TRUE(writeText(dir / "B", false, "b").ok());
    EXPECT_EQ(modeOf(dir / "B"), 0600u);
    ::umask(saved);
    for (unsigned mode : {0600u, 0755u, 0444u}) {
        fs::permissions(dir / "A", static_cast<fs::perms>(mode));
        ASSERT_TRUE(writeText(dir / "A", true, "again").ok());
        EXPECT_EQ(modeOf(dir / "A"), mode);
        EXPECT_EQ(readFileText(dir / "A"), "again");
    }
}

TEST_P(HostFile, NamesAndPathsUpToTheSystemsLimits) {
    const fs::path dir = tempFolder("hostlong");
    const fs::path longName = dir / std::string(255, 'n');
    for (bool replace : {false, true}) {
        ASSERT_TRUE(writeText(longName, replace, replace ? "two" : "one").ok());
        EXPECT_EQ(readFileText(longName), replace ? "two" : "one");
    }
    // About 3,000 bytes of folders: near PATH_MAX, far beyond any name of our own.
    fs::path deep = dir;
    for (int i = 0; i < 12; ++i)
        deep /= std::string(240, static_cast<char>('a' + i));
    fs::create_directories(deep);
    ASSERT_TRUE(writeText(deep / std::string(200, 'x'), false, "deep").ok());
    EXPECT_EQ(readFileText(deep / std::string(200, 'x')), "deep");
    EXPECT_EQ(namesIn(deep).size(), 1u);
}

TEST_P(HostFile, FailedWritesNameTheFileAndLeaveItAlone) {
    const fs::path dir = tempFolder("hostfail");
    const fs::path file = dir / "BIG.BIN";
    writeFileText(file, "old");
    dw::Status replaced, made;
    int reason = 0;
    {
        const FileSizeLimit limit(100000);
        errno = 0;
        replaced = writeText(file, true, std::string(300000, 'x'));
        reason = errno;
        made = writeText(dir / "NEW.BIN", false, std::string(300000, 'x'));
    }
    EXPECT_EQ(replaced.code(), dw::ErrorCode::WriteFailed);
    EXPECT_EQ(replaced.text(),
              "Unable to write the target file " + file.string() + "; it was left as it was");
    EXPECT_EQ(reason, EFBIG);
    EXPECT_EQ(made.text(), "Unable to write the target file " + (dir / "NEW.BIN").string() +
                               "; no file was made");
    EXPECT_EQ(readFileText(file), "old");
    EXPECT_EQ(namesIn(dir), std::set<std::string>{"BIG.BIN"});
}

TEST_P(HostFile, DevicesAndPipesAreWrittenDirectly) {
    if (fs::exists("/dev/full")) {
        const dw::Status full = writeText("/dev/full", true, std::string(100000, 'x'));
        EXPECT_EQ(full.code(), dw::ErrorCode::WriteFailed) << full.text();
        EXPECT_EQ(full.text(), "Unable to write the target file /dev/full");
    }
    EXPECT_TRUE(writeText("/dev/null", false, "gone").ok());

    const fs::path dir = tempFolder("hostfifo");
    const fs::path fifo = dir / "PIPE";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Nobody reads it: refused at once, never waited for.
    EXPECT_EQ(writeText(fifo, true, "nobody").code(), dw::ErrorCode::OpenFailed);
    EXPECT_EQ(errno, ENXIO);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(writeText(fifo, false, "through the pipe").ok());
    char got[64] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 16);
    EXPECT_STREQ(got, "through the pipe");
    ::close(reader);
    EXPECT_EQ(namesIn(dir), std::set<std::string>{"PIPE"});
}

namespace {

// Tells the parent through a pipe once it has written a good part, then waits to be killed.
class PausingProgress : public dw::NullProgress {
public:
    explicit PausingProgress(int signalFd) : fd_(signalFd) {}
    int StepIt() override {
        if (++steps_ == 2000)
            pauseForKill(fd_);
        return steps_;
    }
    static void pauseForKill(int fd) {
        const char ready = 'r';
        if (::write(fd, &ready, 1) != 1)
            ::_exit(3);
        for (;;)
            ::pause();
    }

private:
    int fd_;
    int steps_ = 0;
};

// Runs `work` in a child, kills it with `signal` once it is mid-write; returns its wait status.
template <typename Work> int killedMidWrite(int signal, Work work) {
    int ready[2];
    if (::pipe(ready) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ready[0]);
        work(ready[1]);
        ::_exit(4); // finished without pausing: the test fails on the status
    }
    ::close(ready[1]);
    char byte = 0;
    const bool paused = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (paused)
        ::kill(child, signal);
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

} // namespace

// Ctrl+C (or a kill) in the middle of an export or of a new image leaves no temporary file, and
// a file that was being replaced stays as it was.
TEST_P(HostFile, SignalsLeaveNoTemporaryFileBehind) {
    for (int signal : {SIGINT, SIGTERM}) {
        for (bool replacing : {false, true}) {
            const fs::path dir = tempFolder("hostsignal");
            const fs::path exported = dir / "EXPORT.TXT";
            const fs::path image = dir / "NEW.DSK";
            if (replacing) {
                writeFileText(exported, "e");
                writeFileText(image, "i");
            }
            const std::set<std::string> before = namesIn(dir);

            int status = killedMidWrite(signal, [&](int fd) {
                dw::writeHostFile(exported, true, [&](std::ostream& out) {
                    out << std::string(600000, 'x') << std::flush;
                    PausingProgress::pauseForKill(fd);
                    return dw::Status{};
                });
            });
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;

            status = killedMidWrite(signal, [&](int fd) {
                PausingProgress progress(fd);
                dw::createImageFile(image.string(), dw::FormatParameters{}, dw::LocalDate{},
                                    progress, true);
            });
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;

            EXPECT_EQ(namesIn(dir), before) << "signal " << signal << " replacing " << replacing;
            if (replacing) {
                EXPECT_EQ(readFileText(exported), "e");
                EXPECT_EQ(readFileText(image), "i");
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Temporaries, HostFile, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "Unnamed" : "Named";
                         });

// The window imports through the engine alone: a pipe with no writer, a device or a folder is
// refused at once, without a wait.
TEST(HostSource, ImportReadsOnlyRegularFiles) {
    const fs::path dir = tempFolder("hostsources");
    const fs::path fifo = dir / "PIPE.TXT";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ImageBuilder b = ImageBuilder::formatted(5, 10);
    std::vector<std::uint8_t> bytes = b.bytes();
    const std::vector<std::uint8_t> before = bytes;
    auto image = dw::DiskImage::inMemory(bytes, false);
    for (const fs::path& source : {fifo, fs::path("/dev/zero"), dir}) {
        Answers questions;
        const dw::ImportResult result =
            dw::importFile(*image, source.string(), dw::ImportOptions{}, questions, "X.TXT");
        EXPECT_FALSE(result.committed);
        EXPECT_EQ(result.status.text(), source.string() + " is not a regular file (a folder, "
                                                          "device or pipe); it was not imported");
    }
    EXPECT_EQ(bytes, before);
}
