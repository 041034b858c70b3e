#pragma once

// "Configuration Options": the five conversion switches of export, viewing and import.

#include <QDialog>

class QCheckBox;
class SettingsStore;

constexpr int IDD_OPTIONS = 172;
constexpr int IDC_ADD_LINE_FEEDS = 1066;
constexpr int IDC_STRIP_LINE_FEEDS = 1067;
constexpr int IDC_COMPACT_BINARY = 1068;
constexpr int IDC_EXPAND_TABS = 1069;
constexpr int IDC_COMPRESS_SPACES = 1070;

class COptionsDlg : public QDialog {
    Q_OBJECT
public:
    // The boxes start from the stored settings, not from the running program's switches.
    explicit COptionsDlg(const SettingsStore& settings, QWidget* parent = nullptr);

    // Runs once, when the dialog is first shown: the boxes take the stored values.
    bool OnInitDialog();

    // Valid after OK.
    bool m_bCompactBinary = false;
    bool m_bAddLineFeeds = false;
    bool m_bStripLineFeeds = false;
    bool m_bCompressSpaces = false;
    bool m_bExpandTabs = false;

public slots:
    void OnOK();

protected:
    void showEvent(QShowEvent* event) override;

private:
    const SettingsStore& m_settings;
    bool m_bInitialised = false;
    QCheckBox* m_chkStripLineFeeds = nullptr;
    QCheckBox* m_chkExpandTabs = nullptr;
    QCheckBox* m_chkCompressSpaces = nullptr;
    QCheckBox* m_chkCompactBinary = nullptr;
    QCheckBox* m_chkAddLineFeeds = nullptr;
};
