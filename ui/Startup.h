#pragma once

// Start-up of the window: the settings loaded into the application object, the image named on
// the command line handed to a new main window.

#include "app/DiskwrightApp.h"

#include <QStringList>

#include <memory>

class CDiskwrightDlg;
class Prompts;
class SettingsStore;

// `arguments` are the command-line arguments after the program's name.
std::unique_ptr<CDiskwrightDlg> makeMainWindow(CDiskwrightApp& app, Prompts& prompts,
                                               SettingsStore& settings,
                                               const QStringList& arguments,
                                               const ImageOpener& opener = defaultImageOpener());
