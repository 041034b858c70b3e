#pragma once

// Finding the window's controls by id, and the main every window test program shares.

#include "app/DiskwrightApp.h"
#include "ui/ControlIds.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QTest>
#include <QWidget>

class CDiskwrightDlg;

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
