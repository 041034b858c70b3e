#include "ui/EditorPathDlg.h"

#include "app/SettingsStore.h"
#include "ui/ControlIds.h"
#include "ui/DialogUnits.h"
#include "ui/Prompts.h"

#include <QLineEdit>
#include <QPushButton>

CEditorPathDlg::CEditorPathDlg(Prompts& prompts, QWidget* parent)
    : QDialog(parent), m_prompts(prompts) {
    setWindowTitle(QStringLiteral("Select Editor Program"));
    setFont(dialogFont());
    setFixedSize(DialogUnits(font()).size(260, 68));

    addStatic(this, IDC_STATIC,
              QStringLiteral("Enter the full path and name to the editor you want to use to open "
                             "text files"),
              7, 13, 246, 8);
    m_editPath = placeControl(this, new QLineEdit(this), IDC_EDITOR_PATH, 7, 25, 218, 13);
    m_editPath->setAccessibleName(QStringLiteral("Editor"));
    QPushButton* browse = addButton(this, IDC_BROWSE, QStringLiteral("..."), 228, 25, 18, 14);
    browse->setAccessibleName(QStringLiteral("Browse"));
    QPushButton* ok = addButton(this, IDOK, QStringLiteral("OK"), 72, 47, 50, 14);
    QPushButton* cancel = addButton(this, IDCANCEL, QStringLiteral("Cancel"), 138, 47, 50, 14);
    ok->setDefault(true);
    browse->setAutoDefault(false);

    connect(browse, &QPushButton::clicked, this, &CEditorPathDlg::OnBrowse);
    connect(ok, &QPushButton::clicked, this, &CEditorPathDlg::OnOK);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CEditorPathDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    OnInitDialog();
}

bool CEditorPathDlg::OnInitDialog() {
    if (!m_bInitialised) {
        m_bInitialised = true;
        m_editPath->setText(m_strPath);
    }
    return true;
}

void CEditorPathDlg::OnBrowse() {
    // The folder of the path the dialog was opened with, not of what has been typed since.
    const QString path = m_prompts.openFileName(this, folderOf(m_strPath),
                                                QStringLiteral("Executable Files (*)"), QString());
    if (!path.isEmpty())
        m_editPath->setText(path);
}

void CEditorPathDlg::OnOK() {
    m_strPath = m_editPath->text();
    accept();
}
