#include "ui/ImportPrompts.h"

#include "ui/FilespecDlg.h"
#include "ui/Prompts.h"

#include <QFile>

namespace {
// The engine's texts break lines the Windows way.
QString boxText(const std::string& text) {
    return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}
} // namespace

bool ImportPrompts::askName(std::string& text) {
    CFilespecDlg dialog(m_parent);
    dialog.SetFileSpec(QFile::decodeName(QByteArray::fromStdString(text)));
    if (m_prompts.runDialog(dialog) != QDialog::Accepted)
        return false;
    text = QFile::encodeName(dialog.FileSpec()).toStdString();
    return true;
}

bool ImportPrompts::askYesNo(const std::string& question) {
    return m_prompts.askYesNo(m_parent, boxText(question));
}

void ImportPrompts::tell(const std::string& message) {
    m_prompts.message(m_parent, boxText(message));
}
