// Times `diskwright-cli find` and `check` over folders of generated 35 x 10 images as a user runs
// them (whole processes), beside `cp -r` of the same folder made in the same run, and gives each
// run's peak memory, for two folder sizes: memory should not grow with the number of images.
//
// Usage: diskwright-bench-archive WORK_FOLDER DISKWRIGHT_CLI

#include "tests/support/ImageBuilder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int Runs = 5;

struct Run {
    double ms = 0;
    long peakKiB = 0;
};

// One process, its output to /dev/null; exits the bench when it fails.
Run runProcess(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::cerr << "cannot start " << arguments[0] << '\n';
        std::exit(1);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const auto end = std::chrono::steady_clock::now();
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::cerr << arguments[0] << ' ' << arguments[1] << " failed\n";
        std::exit(1);
    }
    return {std::chrono::duration<double, std::milli>(end - start).count(), usage.ru_maxrss};
}

// The median time of a few runs after one that fills the page cache, and the largest peak.
Run measure(const std::vector<std::string>& arguments, const fs::path& cleanUp = {}) {
    std::vector<double> times;
    Run result;
    for (int i = 0; i <= Runs; ++i) {
        const Run run = runProcess(arguments);
        if (!cleanUp.empty())
            fs::remove_all(cleanUp);
        if (i == 0)
            continue;
        times.push_back(run.ms);
        result.peakKiB = std::max(result.peakKiB, run.peakKiB);
    }
    std::sort(times.begin(), times.end());
    result.ms = times[times.size() / 2];
    return result;
}

// `count` sound images of 35 x 10 with a few files each, one in ten holding a FLEX.SYS.
void makeArchive(const fs::path& folder, int count) {
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        dwtest::ImageBuilder b = dwtest::ImageBuilder::formatted(35, 10, "ARCHIVE");
        if (i % 10 == 0)
            b.addFile("FLEX", "SYS", std::vector<std::uint8_t>(25 * 252, 0x02));
        for (int f = 0; f < 3 + i % 4; ++f)
            b.addFile("FILE" + std::to_string(f), f % 2 ? "TXT" : "CMD",
                      std::vector<std::uint8_t>(static_cast<std::size_t>(252 * (1 + (i + f) % 9)),
                                                static_cast<std::uint8_t>('A' + f)));
        char name[32];
        std::snprintf(name, sizeof name, "disk%05d.dsk", i);
        b.save((folder / name).string());
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: diskwright-bench-archive WORK_FOLDER DISKWRIGHT_CLI\n";
        return 2;
    }
    const fs::path work = fs::absolute(argv[1]) / "archive";
    const std::string cli = fs::absolute(argv[2]).string();
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("%-8s %-22s %9s %9s %7s %9s\n", "images", "operation", "ms", "images/s", "x cp",
                "peak MiB");
    for (int count : {500, 2000}) {
        const fs::path folder = work / std::to_string(count);
        const fs::path copy = work / "copy";
        fs::remove_all(work);
        makeArchive(folder, count);
        const Run cp = measure({"/bin/cp", "-r", folder.string(), copy.string()}, copy);
        struct Operation {
            std::string name;
            std::vector<std::string> arguments;
        };
        const std::string jobs = std::to_string(cores);
        const Operation operations[] = {
            {"cp -r", {}},
            {"find '*.SYS' -j " + jobs, {cli, "find", "*.SYS", folder.string()}},
            {"check -j " + jobs, {cli, "-q", "check", folder.string()}},
            {"find '*.SYS' -j 1", {cli, "find", "*.SYS", folder.string(), "-j", "1"}},
            {"check -j 1", {cli, "-q", "check", folder.string(), "-j", "1"}},
        };
        for (const Operation& op : operations) {
            const Run run = op.arguments.empty() ? cp : measure(op.arguments);
            std::printf("%-8d %-22s %9.1f %9.0f %7.2f %9.1f\n", count, op.name.c_str(), run.ms,
                        count / (run.ms / 1000), run.ms / cp.ms,
                        static_cast<double>(run.peakKiB) / 1024);
            std::fflush(stdout);
        }
    }
    fs::remove_all(work);
    std::printf(
        "\nWhole processes on folders of 35 x 10 images; each time is the median of %d runs "
        "after one that\nfills the page cache; \"x cp\" is the ratio to cp -r of the same "
        "folder; \"peak MiB\" the\nlargest peak resident memory of those runs.\n",
        Runs);
    return 0;
}
