#pragma once

// The 8.3 name dialog: asks for a FLEX name when an imported file's name does not fit. It only
// limits the length; the import checks the form and asks again.

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

constexpr int IDD_FILESPEC = 169;
constexpr int IDC_FILESPEC = 1092;

class CFilespecDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int MaxLength = 12; // 8 name characters, the dot, 3 extension characters

    explicit CFilespecDlg(QWidget* parent = nullptr);

    // The text shown in the edit, as given (no case change).
    void SetFileSpec(const QString& text);
    // The text as it stood when OK was pressed.
    QString FileSpec() const { return m_strFileSpec; }

    void accept() override;

private:
    QString m_strFileSpec;
    QLineEdit* m_edtFileSpec = nullptr;
};
