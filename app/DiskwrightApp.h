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

// What the command line (the arguments after the program's name) asks for. Switches begin
// with "-" or "--" (one dash also for words); unknown ones are passed over. Since "/" begins a
// path here, only the framework's own words spelled exactly so count as switches after "/".
struct CommandLine {
    QString image; // the first argument that is no switch
    bool automation =
        false;         // "-Embedding" or "-Automation" in any case, "/Embedding" or "/Automation"
    bool help = false; // "--help", "-h", "-?"
    bool version = false; // "--version", "-v"

    static CommandLine parse(const QStringList& arguments);
    // What --help prints.
    static QString helpText();
};

class CDiskwrightApp {
public:
    static QString imageArgument(const QStringList& arguments) {
        return CommandLine::parse(arguments).image;
    }
    static bool IsAutomationStart(const QStringList& arguments) {
        return CommandLine::parse(arguments).automation;
    }

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
