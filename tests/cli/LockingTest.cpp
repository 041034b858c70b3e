// Two programs on one image: a command waits for another's, then gives up; and two processes
// importing and deleting at once lose nothing.

#include "engine/Check.h"
#include "engine/DiskImage.h"
#include "engine/KillPoint.h"
#include "tests/cli/CliRun.h"
#include "tests/support/ImageBuilder.h"

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

namespace {

std::string hostName(int process, int i) {
    return "P" + std::to_string(process) + "F" + std::to_string(i) + ".BIN";
}

// Two whole sectors that tell the process and the file apart.
Bytes hostData(int process, int i) {
    Bytes data(2 * 252);
    for (std::size_t k = 0; k < data.size(); ++k)
        data[k] = static_cast<std::uint8_t>(process * 101 + i * 7 + k);
    return data;
}

} // namespace

TEST(CliLocking, ABusyImageIsWaitedForThenRefused) {
    ImageBuilder b = ImageBuilder::formatted(5, 10);
    b.addFile("KEEP", "TXT", Bytes(10, 'k'));
    const std::string image = b.save(tempPath("busy.dsk"));
    std::unique_ptr<dw::DiskImage> holder;
    ASSERT_TRUE(dw::DiskImage::open(image, holder).ok());
    ASSERT_TRUE(holder->beginChange().ok());
    dw::DiskImage::setLockWait(std::chrono::milliseconds(100));
    const std::string refusal =
        "diskwright-cli: " + image + " is in use by another program; nothing was changed.\n";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"delete", image, "KEEP.TXT", "--yes"}, {"list", image}}) {
        const CliRun run = cli(args);
        EXPECT_EQ(run.code, 1) << args[0];
        EXPECT_EQ(run.err, refusal);
    }
    EXPECT_EQ(readFileBytes(image), b.bytes());
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
    const fs::path folder = tempPath("shared-hosts");
    fs::create_directories(folder);
    for (int p = 0; p < Processes; ++p)
        for (int i = 0; i < Trials; ++i)
            writeFileBytes((folder / hostName(p, i)).string(), hostData(p, i));

    std::vector<pid_t> children;
    for (int p = 0; p < Processes; ++p) {
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            std::ofstream log(folder / ("log" + std::to_string(p)));
            for (int i = 0; i < Trials; ++i) {
                const CliRun imported =
                    cli({"import", image, (folder / hostName(p, i)).string(), "--mode", "binary"});
                log << "import " << i << ' ' << imported.code << ' ' << imported.err.size() << '\n';
                if (i % 2 == 1) {
                    const CliRun deleted = cli({"delete", image, hostName(p, i - 1), "--yes"});
                    log << "delete " << i - 1 << ' ' << deleted.code << ' ' << deleted.err.size()
                        << '\n';
                }
            }
            log.close();
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int p = 0; p < Processes; ++p) {
        std::ifstream log(folder / ("log" + std::to_string(p)));
        std::string what;
        int i = 0, code = 0, errSize = 0, lines = 0;
        while (log >> what >> i >> code >> errSize) {
            EXPECT_EQ(code, 0) << "process " << p << ": " << what << ' ' << i;
            ++lines;
        }
        EXPECT_EQ(lines, Trials + Trials / 2);
    }

    // Every file the processes kept is there, whole; every one they deleted is gone.
    std::unique_ptr<dw::DiskImage> disk;
    ASSERT_TRUE(dw::DiskImage::openReadOnly(image, disk).ok());
    const dw::CheckReport report = dw::checkImage(*disk);
    for (const std::string& finding : report.findings)
        ADD_FAILURE() << finding;
    std::multiset<std::string> expected, listed;
    for (int p = 0; p < Processes; ++p)
        for (int i = 1; i < Trials; i += 2)
            expected.insert(hostName(p, i));
    std::istringstream names(cli({"list", image, "--names"}).out);
    for (std::string name; std::getline(names, name);)
        listed.insert(name);
    EXPECT_EQ(listed, expected);
    for (int p = 0; p < Processes; ++p)
        for (int i = 1; i < Trials; i += 2) {
            const CliRun data =
                cli({"export", image, hostName(p, i), "-o", "-", "--mode", "binary"});
            const Bytes want = hostData(p, i);
            EXPECT_EQ(data.out, std::string(want.begin(), want.end())) << hostName(p, i);
        }
}

// A command killed half-way: a reading command reads the image as it was and says so, the next
// changing one puts it back and says so, once.
TEST(CliLocking, AnInterruptedChangeIsUndoneOnce) {
    ImageBuilder b = ImageBuilder::formatted(5, 10);
    b.addFile("KEEP", "TXT", Bytes(10, 'k'));
    const std::string image = b.save(tempPath("killed.dsk"));
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dw::setKillPoint(2); // the journal is written, the image half
        cli({"delete", image, "KEEP.TXT", "--yes"});
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 99);
    const Bytes torn = readFileBytes(image);

    CliRun run = cli({"list", image, "--names"});
    EXPECT_EQ(run.out, "KEEP.TXT\n");
    EXPECT_NE(run.err.find(image + ": a change to it was interrupted; it is read as it was"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(readFileBytes(image), torn);
    run = cli({"import", image, "-", "--name", "NEW.TXT"}, "new\n");
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.err.find("has been undone"), std::string::npos) << run.err;
    run = cli({"check", image});
    EXPECT_EQ(run.code, 0) << run.out;
    EXPECT_EQ(run.err, image + ": no problems found\n");
    EXPECT_EQ(cli({"list", image, "--names"}).out, "KEEP.TXT\nNEW.TXT\n");
}
