#pragma once

// What one press of Start in the format dialog does once the choices are stored: check the
// limits, ask where to save, and write the image under the progress window.

#include "engine/Create.h"

#include <QString>

class Prompts;
class SettingsStore;
class QWidget;

// `dialog` owns the prompts and is disabled while the image is written. `volumeName` is the
// text of the Volume Name box; `p` holds every other choice. Refused limits and a file that
// cannot be made are told in a message; Cancel is not. The image is complete or not there.
void RunFormatStart(QWidget* dialog, Prompts& prompts, SettingsStore& settings,
                    dw::FormatParameters p, const QString& volumeName);
