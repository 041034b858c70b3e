#include "ui/ExternalEditor.h"

#include <QProcess>

bool startEditor(const QString& editorPath, const QString& file, QString& error) {
    QProcess process;
    process.setProgram(editorPath);
    process.setArguments({file});
    if (process.startDetached())
        return true;
    error = process.errorString();
    return false;
}
