#pragma once

// Every modal interaction of the window goes through here: message boxes, file dialogs and
// running one of our dialogs. The program shows real Qt windows; tests answer from a script.

#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

class Prompts {
public:
    enum class Icon { Warning, Information };

    virtual ~Prompts() = default;

    // The Open dialog for one existing file; an empty result means Cancel. `filter` is in Qt's
    // form, e.g. "Virtual Disk Files (*.dsk)".
    virtual QString openFileName(QWidget* parent, const QString& folder, const QString& filter,
                                 const QString& defaultSuffix) = 0;

    // The Open dialog for several existing files; an empty list means Cancel.
    virtual QStringList openFileNames(QWidget* parent, const QString& folder,
                                      const QString& filter) = 0;

    // The Save As dialog, starting in `folder` with `initialName`; it asks before an existing
    // file is replaced. An empty result means Cancel.
    virtual QString saveFileName(QWidget* parent, const QString& folder, const QString& initialName,
                                 const QString& filter, const QString& defaultSuffix) = 0;

    // An OK box with the caption "Diskwright".
    virtual void message(QWidget* parent, const QString& text, Icon icon = Icon::Warning) = 0;

    // A Yes/No box with the caption "Diskwright"; true only for Yes.
    virtual bool askYesNo(QWidget* parent, const QString& text) = 0;

    // Runs one of our dialogs modally and returns its result.
    virtual int runDialog(QDialog& dialog) = 0;
};
