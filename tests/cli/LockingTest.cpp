// Two programs on one image: a command waits for another's, then gives up; and two processes
// importing and deleting at once lose nothing.

#include "engine/DiskImage.h"
#include "tests/cli/CliRun.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/KilledChild.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace dwtest;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;

namespace {

std::string hostName(int process, int i) {
    return "P" + std::to_string(process) + "F" + std::to_string(i) + ".BIN";
}

// Two whole sectors that tell the process and the file apart.
std::string hostData(int process, int i) {
    std::string data(2 * 252, '\0');
    for (std::size_t k = 0; k < data.size(); ++k)
        data[k] = static_cast<char>(process * 101 + i * 7 + static_cast<int>(k));
    return data;
}

std::string keepImage(const std::string& name) {
    ImageBuilder b = ImageBuilder::formatted(5, 10);
    b.addFile("KEEP", "TXT", Bytes(10, 'k'));
    return b.save(tempPath(name));
}

} // namespace

TEST(CliLocking, ABusyImageIsWaitedForThenRefused) {
    const std::string image = keepImage("busy.dsk");
    const Bytes before = readFileBytes(image);
    std::unique_ptr<dw::DiskImage> holder;
    ASSERT_TRUE(dw::DiskImage::open(image, holder).ok());
    ASSERT_TRUE(holder->beginChange().ok());
    dw::DiskImage::setLockWait(std::chrono::milliseconds(100));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"delete", image, "KEEP.TXT", "--yes"}, {"list", image}}) {
        const CliRun run = cli(args);
        EXPECT_EQ(run.code, 1) << args[0];
        EXPECT_EQ(run.err, "diskwright-cli: " + image +
                               " is in use by another program; nothing was changed.\n");
    }
    EXPECT_EQ(readFileBytes(image), before);
    // A reader does not keep another reader out.
    ASSERT_TRUE(holder->commitChange().ok());
    ASSERT_TRUE(holder->beginRead().ok());
    EXPECT_EQ(cli({"list", image, "--names"}).out, "KEEP.TXT\n");
    holder->endRead();
    dw::DiskImage::setLockWait(std::chrono::seconds(3));
    EXPECT_EQ(cli({"delete", image, "KEEP.TXT", "--yes"}).code, 0);
}

// Each process imports its files one command at a time and deletes every other one again.
TEST(CliLocking, TwoProcessesImportAndDeleteOnOneImage) {
    constexpr int Processes = 2;
    constexpr int Trials = 50;
    const std::string image = ImageBuilder::formatted(40, 18).save(tempPath("shared.dsk"));
    const fs::path folder = tempFolder("shared-hosts");
    auto logOf = [&](int p) { return folder / ("log" + std::to_string(p)); };
    for (int p = 0; p < Processes; ++p)
        for (int i = 0; i < Trials; ++i)
            writeFileText(folder / hostName(p, i), hostData(p, i));

    std::vector<pid_t> children;
    for (int p = 0; p < Processes; ++p) {
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            // Every command must succeed; what a failed one said goes to the log.
            std::ofstream log(logOf(p));
            auto run = [&](const std::vector<std::string>& args) {
                const CliRun r = cli(args);
                if (r.code != 0)
                    log << args[0] << ' ' << args[2] << ": " << r.code << ' ' << r.err;
            };
            for (int i = 0; i < Trials; ++i) {
                run({"import", image, (folder / hostName(p, i)).string(), "--mode", "binary"});
                if (i % 2 == 1)
                    run({"delete", image, hostName(p, i - 1), "--yes"});
            }
            log.close();
            _exit(0);
        }
        children.push_back(pid);
    }
    for (int p = 0; p < Processes; ++p) {
        int status = 0;
        waitpid(children[static_cast<std::size_t>(p)], &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(readFileText(logOf(p)), "") << "process " << p;
    }

    // The image is sound; every file the processes kept is there, whole; every one they
    // deleted is gone.
    const CliRun check = cli({"check", image});
    EXPECT_EQ(check.code, 0) << check.out;
    std::multiset<std::string> expected, listed;
    std::istringstream names(cli({"list", image, "--names"}).out);
    for (std::string name; std::getline(names, name);)
        listed.insert(name);
    for (int p = 0; p < Processes; ++p)
        for (int i = 1; i < Trials; i += 2) {
            expected.insert(hostName(p, i));
            EXPECT_EQ(cli({"export", image, hostName(p, i), "-o", "-", "--mode", "binary"}).out,
                      hostData(p, i))
                << hostName(p, i);
        }
    EXPECT_EQ(listed, expected);
}

// A command killed half-way: the next command, a reading one too, puts the image back in the
// file itself and says so, once. A change refused before it was written reports no file done.
TEST(CliLocking, AnInterruptedChangeIsUndoneByAnyCommand) {
    const std::string image = keepImage("killed.dsk");
    const Bytes before = readFileBytes(image);
    // The journal is written, the image is torn at its second write.
    ASSERT_EQ(
        inChild(3,
                [&] {
                    return cli({"import", image, "-", "--name", "NEW.TXT"}, "new\n").code == 0;
                }),
        Killed);
    ASSERT_NE(readFileBytes(image), before);

    CliRun run = cli({"list", image, "--names"});
    EXPECT_EQ(run.out, "KEEP.TXT\n");
    EXPECT_EQ(run.err, image + ": a change to it was interrupted and has been undone; the image "
                               "is as it was before that change\n");
    EXPECT_EQ(readFileBytes(image), before);
    run = cli({"delete", image, "KEEP.TXT", "--yes"});
    EXPECT_EQ(run.err, "Deleted KEEP.TXT\n");

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"import", image, "-", "--name", "NEW.TXT"},
          {"delete", image, "KEEP.TXT", "--yes"}}) {
        writeFileBytes(image, before);
        {
            const FileSizeLimit limit(100); // the journal cannot be written
            run = cli(args, "new\n");
        }
        EXPECT_EQ(run.code, 1);
        EXPECT_EQ(run.err, "diskwright-cli: " + image + ": Unable to write the rollback journal " +
                               image + "-journal; nothing was changed\n");
        EXPECT_EQ(readFileBytes(image), before);
    }
}
