#include "ui/FilespecDlg.h"

#include "ui/ControlIds.h"
#include "ui/DialogUnits.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

CFilespecDlg::CFilespecDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Get a Valid 8.3 Filespec"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setProperty(ControlIdProperty, IDD_FILESPEC);
    setFont(dialogFont());
    setFixedSize(DialogUnits(font()).size(186, 69));

    // Created in tab order: the edit first, so it takes the focus.
    m_edtFileSpec = placeControl(this, new QLineEdit(this), IDC_FILESPEC, 113, 48, 66, 12);
    m_edtFileSpec->setMaxLength(MaxLength);
    m_edtFileSpec->setAccessibleName(QStringLiteral("8.3 filespec"));
    QPushButton* ok = addButton(this, IDOK, QStringLiteral("OK"), 129, 7, 50, 14);
    ok->setDefault(true);
    QPushButton* cancel = addButton(this, IDCANCEL, QStringLiteral("Cancel"), 129, 24, 50, 14);
    QLabel* why = addStatic(this, IDC_STATIC,
                            QStringLiteral("Source filename format is not supported by FLEX 2.0. "
                                           "The target filename can only be in 8.3 format."),
                            13, 13, 97, 34);
    why->setWordWrap(true);
    why->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    addStatic(this, IDC_STATIC, QStringLiteral("Please enter a valid 8.3 filespec"), 7, 51, 101, 8);

    connect(ok, &QPushButton::clicked, this, &CFilespecDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CFilespecDlg::reject);
    m_edtFileSpec->setFocus();
}

void CFilespecDlg::SetFileSpec(const QString& text) {
    m_strFileSpec = text;
    m_edtFileSpec->setText(text);
}

void CFilespecDlg::accept() {
    m_strFileSpec = m_edtFileSpec->text();
    QDialog::accept();
}
