#include "tests/ui/support/ScriptedPrompts.h"

#include <QDialog>
#include <QTest>

namespace dwtest {

namespace {
const char* kindName(int kind) {
    static const char* const names[] = {
        "Open dialog",   "message", "Yes/No question", "dialog", "Open dialog for several files",
        "Save As dialog"};
    return names[kind];
}

void fail(const QString& what) {
    QTest::qFail(qPrintable(what), __FILE__, __LINE__);
}
} // namespace

void ScriptedPrompts::expectOpenFile(const QString& path) {
    queue_.push_back({Kind::OpenFile, path, {}, {}, false, {}});
}

void ScriptedPrompts::expectOpenFiles(const QStringList& paths) {
    queue_.push_back({Kind::OpenFiles, {}, paths, {}, false, {}});
}

void ScriptedPrompts::expectSaveFile(const QString& path) {
    queue_.push_back({Kind::SaveFile, path, {}, {}, false, {}});
}

void ScriptedPrompts::expectMessage(const QStringList& parts) {
    queue_.push_back({Kind::Message, {}, {}, parts, false, {}});
}

void ScriptedPrompts::expectYesNo(bool answer) {
    queue_.push_back({Kind::YesNo, {}, {}, {}, answer, {}});
}

void ScriptedPrompts::expectDialog(std::function<int(QDialog&)> handler) {
    queue_.push_back({Kind::Dialog, {}, {}, {}, false, std::move(handler)});
}

bool ScriptedPrompts::allShown() {
    if (queue_.empty())
        return true;
    fail(QStringLiteral("%1 prompt(s) expected but never shown, the first a %2")
             .arg(queue_.size())
             .arg(QString::fromLatin1(kindName(static_cast<int>(queue_.front().kind)))));
    queue_.clear();
    return false;
}

bool ScriptedPrompts::next(Kind kind, const QString& shown, Expected& out) {
    if (queue_.empty() || queue_.front().kind != kind) {
        fail(QStringLiteral("Unexpected %1: %2")
                 .arg(QString::fromLatin1(kindName(static_cast<int>(kind))), shown));
        return false;
    }
    out = queue_.front();
    queue_.pop_front();
    return true;
}

QString ScriptedPrompts::openFileName(QWidget*, const QString& folder, const QString& filter,
                                      const QString&) {
    openFolders << folder;
    Expected expected;
    if (!next(Kind::OpenFile, filter, expected))
        return {};
    return expected.answer;
}

QStringList ScriptedPrompts::openFileNames(QWidget*, const QString& folder, const QString& filter) {
    openFolders << folder;
    Expected expected;
    if (!next(Kind::OpenFiles, filter, expected))
        return {};
    return expected.answers;
}

QString ScriptedPrompts::saveFileName(QWidget*, const QString& folder, const QString& initialName,
                                      const QString& filter, const QString&) {
    saveFolders << folder;
    saveNames << initialName;
    Expected expected;
    if (!next(Kind::SaveFile, filter, expected))
        return {};
    return expected.answer;
}

void ScriptedPrompts::message(QWidget*, const QString& text, Icon icon) {
    messages << text;
    icons << icon;
    Expected expected;
    if (!next(Kind::Message, text, expected))
        return;
    for (const QString& part : expected.parts)
        if (!text.contains(part))
            fail(QStringLiteral("Message \"%1\" lacks \"%2\"").arg(text, part));
}

bool ScriptedPrompts::askYesNo(QWidget*, const QString& text) {
    questions << text;
    Expected expected;
    if (!next(Kind::YesNo, text, expected))
        return false;
    return expected.yes;
}

int ScriptedPrompts::runDialog(QDialog& dialog) {
    Expected expected;
    if (!next(Kind::Dialog, dialog.windowTitle(), expected))
        return QDialog::Rejected;
    return expected.handler(dialog);
}

} // namespace dwtest
