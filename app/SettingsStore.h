#pragma once

// Every per-user setting of the program, with its section, name, type and default, and the
// one store they live in. An absent value, or one of the wrong kind, reads as its default.

#include <QSettings>
#include <QString>

#include <initializer_list>
#include <utility>

struct StringSetting {
    const char* section;
    const char* name;
    const char* defaultValue;
};

struct IntSetting {
    const char* section;
    const char* name;
    int defaultValue;
};

namespace Settings {

inline constexpr StringSetting EditorPath{"Diskwright", "EditorPath", ""};
inline constexpr IntSetting AddLineFeeds{"Diskwright", "Add Line Feeds", 1};
inline constexpr IntSetting ExpandTabs{"Diskwright", "ExpandTabs", 1};
inline constexpr IntSetting CompactBinary{"Diskwright", "Compact Binary", 0};
inline constexpr IntSetting StripLineFeeds{"Diskwright", "Strip Line Feeds", 1};
inline constexpr IntSetting CompressSpaces{"Diskwright", "Compress Spaces", 1};
// The main window's size when it last closed, in pixels; 0 for the template's size.
inline constexpr IntSetting WindowWidth{"Diskwright", "Window Width", 0};
inline constexpr IntSetting WindowHeight{"Diskwright", "Window Height", 0};

inline constexpr StringSetting DefaultDiskwrightDir{"Directories", "DefaultDiskwrightDir", ""};
inline constexpr StringSetting DefaultExportDir{"Directories", "DefaultExportDir", ""};
inline constexpr StringSetting DefaultImportDir{"Directories", "DefaultImportDir", ""};
inline constexpr StringSetting TempDir{"Directories", "TempDir", ""};
inline constexpr StringSetting DefaultFormatDir{"Directories", "DefaultFormatDir", ""};

inline constexpr IntSetting Processor{"Floppy Create", "Processor", 1};
inline constexpr IntSetting IncludeBootSector{"Floppy Create", "Include Boot Sector", 1};
inline constexpr IntSetting Tracks35{"Floppy Create", "35 Tracks", 0};
inline constexpr IntSetting Tracks40{"Floppy Create", "40 Tracks", 0};
inline constexpr IntSetting Tracks80{"Floppy Create", "80 Tracks", 1};
inline constexpr IntSetting UserDefined{"Floppy Create", "User Defined", 0};
inline constexpr IntSetting DoubleDensity{"Floppy Create", "Double Density", 1};
inline constexpr IntSetting SingleDensity{"Floppy Create", "Single Density", 0};
inline constexpr IntSetting QuadDensity{"Floppy Create", "Quad Density", 0};
inline constexpr IntSetting DoubleSided{"Floppy Create", "DoubleSided", 1};
inline constexpr IntSetting UserDefinedCylinders{"Floppy Create", "User Defined Cylinders", 80};
inline constexpr IntSetting UserDefinedSectors{"Floppy Create", "User Defined Sectors", 18};

} // namespace Settings

class SettingsStore {
public:
    SettingsStore();

    QString get(const StringSetting& setting) const;
    int get(const IntSetting& setting) const;

    // Each write goes to the store at once; false when it could not be saved.
    bool set(const StringSetting& setting, const QString& value);
    bool set(const IntSetting& setting, int value);
    // Several values in the given order, saved in one write (none when all are stored already).
    bool set(std::initializer_list<std::pair<IntSetting, int>> values);

    // Where the values live (for messages and tests).
    QString location() const { return settings_.fileName(); }

private:
    bool save();

    mutable QSettings settings_;
};

// The folder part of a path chosen in a file dialog: everything before the last "/", with the
// root kept as "/"; empty when the path names no folder.
QString folderOf(const QString& path);
