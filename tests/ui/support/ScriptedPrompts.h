#pragma once

// The prompt layer for tests: each test queues the prompts it expects, with their answers. An
// unexpected prompt fails the test with its text and answers Cancel; no real window opens.

#include "ui/Prompts.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

namespace dwtest {

class ScriptedPrompts : public Prompts {
public:
    // The Open dialog, answered with `path` (empty: Cancel).
    void expectOpenFile(const QString& path);
    // The Open dialog for several files, answered with `paths` (empty: Cancel).
    void expectOpenFiles(const QStringList& paths);
    // The Save As dialog, answered with `path` (empty: Cancel).
    void expectSaveFile(const QString& path);
    // An OK box whose text contains every one of `parts`.
    void expectMessage(const QStringList& parts);
    void expectYesNo(bool answer);
    // One of our dialogs: `handler` looks at it and returns its result.
    void expectDialog(std::function<int(QDialog&)> handler);

    // True when every queued prompt came; fails the test otherwise.
    bool allShown();

    QStringList openFolders; // the folder each Open dialog (one or several files) started in
    QStringList saveFolders; // the folder each Save As dialog started in
    QStringList saveNames;   // the name each Save As dialog offered
    QStringList messages;    // every message text shown
    QStringList questions;   // every Yes/No question asked
    QList<Icon> icons;       // the icon of each message

    QString openFileName(QWidget* parent, const QString& folder, const QString& filter,
                         const QString& defaultSuffix) override;
    QStringList openFileNames(QWidget* parent, const QString& folder,
                              const QString& filter) override;
    QString saveFileName(QWidget* parent, const QString& folder, const QString& initialName,
                         const QString& filter, const QString& defaultSuffix) override;
    void message(QWidget* parent, const QString& text, Icon icon) override;
    bool askYesNo(QWidget* parent, const QString& text) override;
    int runDialog(QDialog& dialog) override;

private:
    enum class Kind { OpenFile, Message, YesNo, Dialog, OpenFiles, SaveFile };
    struct Expected {
        Kind kind;
        QString answer;
        QStringList answers;
        QStringList parts;
        bool yes = false;
        std::function<int(QDialog&)> handler;
    };
    bool next(Kind kind, const QString& shown, Expected& out);

    std::deque<Expected> queue_;
};

} // namespace dwtest
