#pragma once

// The application object: the settings the commands use, and the image named on the command
// line. The window itself is made and run by the program's main (ui/).

#include "app/SettingsStore.h"
#include "engine/DiskImage.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>

// How an image file is opened: read-write, else read-only. Tests put a read-only opener in its
// place, since a test run as root can write to any file.
using ImageOpener = std::function<dw::Status(const std::string&, std::unique_ptr<dw::DiskImage>&)>;
ImageOpener defaultImageOpener();

// The file's name as the operating system wants it.
std::string nativePath(const QString& path);

// An image given on the command line, as the main window receives it.
struct StartupImage {
    std::unique_ptr<dw::DiskImage> image; // null when none was given or it could not be opened
    bool readOnly = true;
    QString title; // "Diskwright: " and the argument as typed
};

class CDiskwrightApp {
public:
    // The first argument that is not a switch. Switches begin with "-"; since "/" begins a path
    // here, only the framework's own words spelled exactly so count as switches.
    static QString imageArgument(const QStringList& arguments);

    // True when an automation client started the program: "-Embedding" or "-Automation", also
    // after "/".
    static bool IsAutomationStart(const QStringList& arguments);

    // Loads the six values of section "Diskwright" into the members.
    void LoadSettings(const SettingsStore& store);

    // Writes the six values back in their order; false when any of them could not be saved.
    bool SaveSettings(SettingsStore& store) const;

    // Opens the image named among the arguments (without the program's name), read-write,
    // else read-only. A file that cannot be opened gives no image and no message.
    StartupImage OpenCommandLineImage(const QStringList& arguments,
                                      const ImageOpener& opener = defaultImageOpener()) const;

    QString m_strEditorPath;
    bool m_bCompactBinary = false;
    bool m_bAddLineFeeds = true;
    bool m_bStripLineFeeds = true;
    bool m_bCompressSpaces = true;
    bool m_bExpandTabs = true;
};
