// Times the window's commands on the offscreen platform, each beside the same operation of
// diskwright-cli in the same run: opening and listing a directory of 2,500 entries, delete,
// export and import of a file that fills the largest geometry, 100 files dropped onto the
// list beside importing them, and a 16 MB file dragged from another window beside copying it
// between the two images. The window's figures run its real handlers, with the prompts
// answered at once; the tool's include starting its process. Each figure is the median of a few
// runs.
//
// Usage: diskwright-bench-window WORK_FOLDER

#include "app/DiskwrightApp.h"
#include "app/SettingsStore.h"
#include "tests/support/ImageBuilder.h"
#include "ui/DiskwrightDlg.h"
#include "ui/ListCtrlEx.h"
#include "ui/Prompts.h"
#include "ui/Startup.h"

#include <QApplication>
#include <QDir>
#include <QMimeData>
#include <QSettings>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iostream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int Runs = 5;

[[noreturn]] void die(const std::string& what) {
    std::cerr << what << '\n';
    std::exit(1);
}

// Every file dialog answers with the prepared path, every question with Yes; any message is a
// fault of the benchmark.
class BenchPrompts : public Prompts {
public:
    QString openFile;
    QString saveFile;
    QStringList openFiles;

    QString openFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return openFile;
    }
    QStringList openFileNames(QWidget*, const QString&, const QString&) override {
        return openFiles;
    }
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&,
                         const QString&) override {
        return saveFile;
    }
    void message(QWidget*, const QString& text, Icon) override {
        die("the window said: " + text.toStdString());
    }
    bool askYesNo(QWidget*, const QString&) override { return true; }
    int runDialog(QDialog&) override { die("the window opened a dialog"); }
};

// Median wall time in milliseconds; `prepare` runs untimed before each run.
double measure(const std::function<void()>& prepare, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < Runs; ++i) {
        prepare();
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Runs diskwright-cli quietly with its output discarded; it must succeed.
void runCli(const std::vector<std::string>& arguments) {
    std::vector<std::string> words{DW_CLI_PROGRAM};
    words.insert(words.end(), arguments.begin(), arguments.end());
    words.push_back("-q");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int status = 0;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        die("diskwright-cli " + arguments.front() + " failed");
}

std::vector<std::uint8_t> textData(std::size_t size) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i % 80 == 79 ? '\r' : 'A' + i % 26);
    return data;
}

struct Bench {
    CDiskwrightApp app;
    BenchPrompts prompts;
    SettingsStore settings;
    std::unique_ptr<CDiskwrightDlg> window;

    Bench() : window(makeMainWindow(app, prompts, settings, {})) {
        window->show();
        QApplication::processEvents();
    }

    // Opens the image through Open Disk and lets the window paint.
    void open(const fs::path& image) {
        prompts.openFile = QString::fromStdString(image.string());
        window->OpenDisk();
        QApplication::processEvents();
        if (!window->HasImage())
            die("the window did not open " + image.string());
    }
    void selectFirstRow() {
        auto* list = window->findChild<CListCtrlEx*>();
        if (!list || list->GetItemCount() == 0)
            die("no row to select");
        list->SelectRow(0, true);
    }
};

void row(const char* operation, double windowMs, double cliMs) {
    std::printf("%-34s %10.2f %10.2f %8.2f\n", operation, windowMs, cliMs, windowMs / cliMs);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: diskwright-bench-window WORK_FOLDER\n";
        return 2;
    }
    const fs::path work = fs::absolute(argv[1]);
    fs::create_directories(work);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const fs::path runtime = work / "runtime";
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.string()));
    }
    // The window stores folders it is given: keep them out of the user's settings.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString((work / "settings").string()));
    QApplication application(argc, argv);
    Bench bench;

    std::printf("%-34s %10s %10s %8s\n", "operation", "window ms", "cli ms", "ratio");

    // 2,500 one-sector files fill 250 of the 251 directory sectors of a 255-sector track 0.
    const fs::path many = work / "many.dsk";
    {
        dwtest::ImageBuilder b = dwtest::ImageBuilder::formatted(11, 255, "MANY");
        char name[9];
        for (int i = 0; i < 2500; ++i) {
            std::snprintf(name, sizeof name, "F%04d", i);
            b.addFile(name, "TXT", {'x'});
        }
        b.save(many.string());
    }
    row("open+list 2,500 entries", measure([] {}, [&] { bench.open(many); }),
        measure([] {},
                [&] {
                    runCli({"list", many.string()});
                }));

    // One text file filling the largest geometry, 256 x 255 sectors.
    const fs::path fresh = work / "fresh.dsk";
    const fs::path filled = work / "filled.dsk";
    const fs::path scratch = work / "scratch.dsk";
    const fs::path host = work / "big.txt";
    const fs::path target = work / "BIG.TXT";
    const std::vector<std::uint8_t> data = textData(std::size_t{255} * 255 * 252);
    dwtest::ImageBuilder::formatted(256, 255, "BENCH").save(fresh.string());
    {
        dwtest::ImageBuilder b = dwtest::ImageBuilder::formatted(256, 255, "BENCH");
        b.addFile("BIG", "TXT", data);
        b.save(filled.string());
    }
    dwtest::writeFileBytes(host.string(), data);
    char title[64];
    std::snprintf(title, sizeof title, "(%.1f MB)", static_cast<double>(data.size()) / 1e6);

    auto copyOf = [&](const fs::path& from) {
        fs::copy_file(from, scratch, fs::copy_options::overwrite_existing);
    };
    const double deleteWindow = measure(
        [&] {
            copyOf(filled);
            bench.open(scratch);
            bench.selectFirstRow();
        },
        [&] { bench.window->OnDelete(); });
    const double deleteCli = measure([&] { copyOf(filled); },
                                     [&] {
                                         runCli({"delete", scratch.string(), "BIG.TXT", "--yes"});
                                     });
    row((std::string("delete BIG.TXT ") + title).c_str(), deleteWindow, deleteCli);

    bench.prompts.saveFile = QString::fromStdString(target.string());
    const double exportWindow = measure(
        [&] {
            fs::remove(target);
            bench.open(filled);
            bench.selectFirstRow();
        },
        [&] { bench.window->OnExport(); });
    if (fs::file_size(target) < data.size())
        die("the window's export is short");
    const double exportCli =
        measure([&] { fs::remove(target); },
                [&] {
                    runCli({"export", filled.string(), "BIG.TXT", "-o", target.string()});
                });
    row((std::string("export BIG.TXT ") + title).c_str(), exportWindow, exportCli);

    bench.prompts.openFiles = {QString::fromStdString(host.string())};
    const double importWindow = measure(
        [&] {
            copyOf(fresh);
            bench.open(scratch);
        },
        [&] { bench.window->OnImport(); });
    if (bench.window->FreeSectors() != 0)
        die("the window's import did not fill the disk");
    const double importCli = measure([&] { copyOf(fresh); },
                                     [&] {
                                         runCli({"import", scratch.string(), host.string()});
                                     });
    row((std::string("import big.txt ") + title).c_str(), importWindow, importCli);

    // 100 small text files dropped onto the list: the drop handler's import, without the drag.
    const fs::path dropped = work / "dropped";
    fs::create_directories(dropped);
    QStringList droppedPaths;
    std::vector<std::string> importArguments{"import", scratch.string()};
    for (int i = 0; i < 100; ++i) {
        const fs::path file = dropped / ("n" + std::to_string(i) + ".txt");
        dwtest::writeFileBytes(file.string(), textData(1000));
        droppedPaths << QString::fromStdString(file.string());
        importArguments.push_back(file.string());
    }
    const double dropWindow = measure(
        [&] {
            copyOf(fresh);
            bench.open(scratch);
        },
        [&] { bench.window->OnDropFiles(droppedPaths); });
    if (bench.window->findChild<CListCtrlEx*>()->GetItemCount() != 100)
        die("the window's drop did not import 100 files");
    const double dropCli = measure([&] { copyOf(fresh); }, [&] { runCli(importArguments); });
    row("drop 100 files (1,000 bytes each)", dropWindow, dropCli);

    // A 16 MB file dragged from another window: the drop handler's work on the drag's data.
    const fs::path source = work / "source.dsk";
    const std::vector<std::uint8_t> big = textData(16'000'000);
    {
        dwtest::ImageBuilder b = dwtest::ImageBuilder::formatted(256, 255, "SOURCE");
        b.addFile("BIG", "BIN", big);
        b.save(source.string());
    }
    bench.open(source);
    bench.selectFirstRow();
    const QByteArray block = bench.window->DragData()->data(FlexFilesMimeType);
    const int bigSectors = static_cast<int>((big.size() + 251) / 252);
    const double copyWindow = measure(
        [&] {
            copyOf(fresh);
            bench.open(scratch);
        },
        [&] { bench.window->OnDropFlexFiles(block); });
    if (bench.window->FreeSectors() != 255 * 255 - bigSectors)
        die("the window's drop did not write the 16 MB file");
    const double copyCli =
        measure([&] { copyOf(fresh); },
                [&] {
                    runCli({"copy", source.string(), "BIG.BIN", "--to", scratch.string()});
                });
    row("drop 16 MB from another window", copyWindow, copyCli);

    std::printf("\nEach figure is the median of %d runs; \"ratio\" is window / cli.\n", Runs);
    bench.window.reset();
    fs::remove_all(work);
    return 0;
}
