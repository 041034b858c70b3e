#pragma once

// Finding the window's controls by id, and the main every window test program shares.

#include "app/DiskwrightApp.h"
#include "app/SettingsStore.h"
#include "tests/ui/support/ScriptedPrompts.h"
#include "ui/ControlIds.h"
#include "ui/DiskwrightDlg.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QTest>
#include <QWidget>

namespace dwtest {

QWidget* control(const QWidget& parent, int id);

template <typename T> T* controlAs(const QWidget& parent, int id) {
    return qobject_cast<T*>(control(parent, id));
}

// The text of a button or static.
QString controlText(const QWidget& parent, int id);
// The bitmap the lamp shows: 157, 158 or 159.
int lampOf(const QWidget& window);
// Each row of the file list as its seven cells joined by "|".
QStringList rowsOf(const QWidget& window);
// True when Import, Export, Delete and Refresh are all enabled (false when all disabled; the
// test fails when they disagree).
bool imageButtonsEnabled(const QWidget& window);

// Opens every image read-only, as a write-protected file opens even for root.
ImageOpener readOnlyOpener();

// Empties the settings store of the test run.
void clearSettings();
// The settings store as QSettings sees it, to check what lands under which name.
QSettings rawSettings();

// A main window as the program makes it for `arguments`, initialised as when it is first shown,
// its prompts answered from a script.
struct ScriptedWindow {
    explicit ScriptedWindow(const QStringList& arguments = {},
                            const ImageOpener& opener = defaultImageOpener());
    CDiskwrightApp app;
    ScriptedPrompts prompts;
    SettingsStore settings;
    std::unique_ptr<CDiskwrightDlg> owner;
    CDiskwrightDlg& dlg;

    void press(int id) const;
};

// A control's place in dialog units and its text.
struct Placed {
    int id;
    const char* text;
    int x, y, cx, cy;
};
// Checks every control's place and text; with `tabOrder`, also that the focus moves through
// them in the order given.
void checkPlaces(const QWidget& dialog, std::initializer_list<Placed> placed,
                 bool tabOrder = false);

// A new, empty folder in the test's temporary folder.
QString newFolder(const std::string& name);
// The names of the files in `folder`, sorted.
QStringList filesIn(const QString& folder);
// A file's text; empty when it cannot be read.
QString fileText(const QString& path);

} // namespace dwtest

// Test programs run side by side, so each keeps its settings in a folder of its own.
#define DW_UI_TEST_MAIN(TestClass)                                                                 \
    int main(int argc, char** argv) {                                                              \
        QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);                                   \
        QStandardPaths::setTestModeEnabled(true);                                                  \
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,                          \
                           QDir::tempPath() + "/settings-" #TestClass);                            \
        QApplication app(argc, argv);                                                              \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
