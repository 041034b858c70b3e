#pragma once

// Starts the user's editor on a file, without waiting for it.

#include <QString>

// The file reaches the editor as one argument, whatever blanks its path holds. On failure
// `error` receives the system's text.
bool startEditor(const QString& editorPath, const QString& file, QString& error);
