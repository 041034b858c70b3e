#pragma once

// "Select Editor Program": the path of the external editor that opens viewed text files.

#include <QDialog>
#include <QString>

class Prompts;
class QLineEdit;

constexpr int IDD_EDITOR_PATH = 130;
constexpr int IDC_EDITOR_PATH = 1001;
constexpr int IDC_BROWSE = 1002;

class CEditorPathDlg : public QDialog {
    Q_OBJECT
public:
    explicit CEditorPathDlg(Prompts& prompts, QWidget* parent = nullptr);

    // Runs once, when the dialog is first shown: the edit box takes m_strPath.
    bool OnInitDialog();

    // Set before the dialog runs, read after it closes; only OK changes it.
    QString m_strPath;

public slots:
    void OnBrowse();
    void OnOK();

protected:
    void showEvent(QShowEvent* event) override;

private:
    Prompts& m_prompts;
    bool m_bInitialised = false;
    QLineEdit* m_editPath = nullptr;
};
