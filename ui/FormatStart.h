#pragma once

// What one press of Start in the format dialog does once the choices are stored: check the
// limits, ask where to save, and write the image under the progress window.

#include "engine/Create.h"

#include <QString>

class Prompts;
class SettingsStore;
class QWidget;

enum class FormatStartOutcome {
    Refused,   // a limit message was shown; no file dialog
    NoFile,    // the Save dialog was cancelled
    Created,   // the image is in place
    Cancelled, // Cancel in the progress window; nothing was left under the chosen name
    Failed,    // the file could not be made; the message named it
};

// `dialog` owns the prompts and is disabled while the image is written. `volumeName` is the
// text of the Volume Name box; `p` holds every other choice.
FormatStartOutcome RunFormatStart(QWidget* dialog, Prompts& prompts, SettingsStore& settings,
                                  dw::FormatParameters p, const QString& volumeName);
