#pragma once

// Start-up of the program: the automation switches, the image named on the command line, the
// settings (asking once for an editor), the main window run modally, and the end.

#include "app/DiskwrightApp.h"

#include <QDBusConnection>
#include <QStringList>

#include <memory>
#include <optional>

class CDiskwrightDlg;
class Prompts;
class SettingsStore;

// What the start-up touches outside the process.
struct StartupEnvironment {
    ImageOpener opener = defaultImageOpener();
    // The user's session-bus activation folder, where an earlier version wrote the file naming
    // `executable` that every start removes (none when empty).
    QString activationFolder;
    QString executable;
    // The bus an automation start serves on; the session bus when none is given.
    std::optional<QDBusConnection> bus;

    // The running program's own: the user's activation folder and this executable.
    static StartupEnvironment forThisProgram();
};

// The whole start-up and the main window's lifetime; `arguments` are the command-line
// arguments after the program's name. Returns the process's exit status.
int InitInstance(CDiskwrightApp& app, Prompts& prompts, SettingsStore& settings,
                 const QStringList& arguments, const StartupEnvironment& environment);

// The main window for `arguments` with the settings loaded, not yet shown (no prompt, nothing
// written).
std::unique_ptr<CDiskwrightDlg> makeMainWindow(CDiskwrightApp& app, Prompts& prompts,
                                               SettingsStore& settings,
                                               const QStringList& arguments,
                                               const ImageOpener& opener = defaultImageOpener());
