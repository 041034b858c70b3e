// Times the making of a blank image two ways, side by side: `diskwright-cli create`, and Start
// in the window's format dialog with its progress window showing. Each figure is the median of
// a few runs; the settings of the runs are kept in the work folder.
//
// Usage: diskwright-bench-create-window WORK_FOLDER DISKWRIGHT_CLI

#include "app/SettingsStore.h"
#include "ui/ControlIds.h"
#include "ui/FormatDlg.h"
#include "ui/Prompts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QSettings>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int Runs = 7;

struct Geometry {
    int tracks;
    int sectorsPerSide;
    bool doubleSided;
};

[[noreturn]] void fail(const QString& what) {
    std::cerr << "window create: " << what.toStdString() << '\n';
    std::exit(1);
}

// Every Save dialog chooses the target; any other prompt is a fault.
class TargetPrompts : public Prompts {
public:
    explicit TargetPrompts(QString target) : target_(std::move(target)) {}
    QString openFileName(QWidget*, const QString&, const QString&, const QString&) override {
        fail("Open dialog");
    }
    QStringList openFileNames(QWidget*, const QString&, const QString&) override {
        fail("Open dialog");
    }
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&,
                         const QString&) override {
        return target_;
    }
    void message(QWidget*, const QString& text, Icon) override { fail(text); }
    bool askYesNo(QWidget*, const QString& text) override { fail(text); }
    int runDialog(QDialog&) override { fail("dialog"); }

private:
    QString target_;
};

template <typename T> T* control(QWidget& dialog, int id) {
    for (T* child : dialog.findChildren<T*>())
        if (child->property(ControlIdProperty).toInt() == id)
            return child;
    fail(QStringLiteral("no control %1").arg(id));
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double millisecondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(end - start).count();
}

void benchGeometry(const Geometry& g, const fs::path& work, const std::string& cli) {
    const fs::path target = work / "window.dsk";
    const std::string command = "'" + cli + "' create '" + target.string() + "' --tracks " +
                                std::to_string(g.tracks) + " --sectors " +
                                std::to_string(g.sectorsPerSide) + " --sides " +
                                (g.doubleSided ? "2" : "1") + " --force -q > /dev/null";
    TargetPrompts prompts(QString::fromStdString(target.string()));
    SettingsStore settings;
    CFormatDlg dialog(prompts, settings);
    dialog.show();
    QCoreApplication::processEvents();
    control<QAbstractButton>(dialog, IDC_USER_DEFINED)->click();
    control<QLineEdit>(dialog, IDC_TRACKS)->setText(QString::number(g.tracks));
    control<QLineEdit>(dialog, IDC_SECTORS)->setText(QString::number(g.sectorsPerSide));
    QAbstractButton* sides = control<QAbstractButton>(dialog, IDC_DOUBLE_SIDED);
    if (sides->isChecked() != g.doubleSided)
        sides->click();
    QAbstractButton* start = control<QAbstractButton>(dialog, IDOK);

    // Turn about, so that both see the same load of a busy machine.
    std::vector<double> cliTimes;
    std::vector<double> windowTimes;
    for (int i = 0; i < Runs; ++i) {
        fs::remove(target);
        cliTimes.push_back(millisecondsOf([&] {
            if (std::system(command.c_str()) != 0)
                fail(QString::fromStdString(command));
        }));
        fs::remove(target);
        QCoreApplication::processEvents();
        windowTimes.push_back(millisecondsOf([&] { start->click(); }));
    }
    const double cliMs = median(cliTimes);
    const double windowMs = median(windowTimes);
    if (!fs::exists(target))
        fail("no image made");
    fs::remove(target);

    const int spt = g.doubleSided ? 2 * g.sectorsPerSide : g.sectorsPerSide;
    char title[64];
    std::snprintf(title, sizeof title, "%dx%d (%.1f MB)", g.tracks, spt,
                  static_cast<double>(g.tracks) * spt * 256 / 1e6);
    std::printf("%-24s %14.2f %14.2f %10.2f\n", title, cliMs, windowMs, windowMs / cliMs);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: diskwright-bench-create-window WORK_FOLDER DISKWRIGHT_CLI\n";
        return 2;
    }
    const fs::path work = fs::absolute(argv[1]);
    fs::create_directories(work);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString((work / "settings").string()));
    QApplication app(argc, argv);
    std::printf("%-24s %14s %14s %10s\n", "geometry", "cli create ms", "window ms", "window/cli");
    benchGeometry({256, 255, false}, work, argv[2]);
    benchGeometry({80, 18, true}, work, argv[2]);
    std::printf("\nEach figure is the median of %d runs; the window makes the image with Start in "
                "the format dialog, its progress window showing.\n",
                Runs);
    fs::remove_all(work / "settings");
    return 0;
}
