#pragma once

// The format dialog: the choices for a new blank diskette image, remembered between visits.
// Start stores them and makes one image; the dialog stays open for the next one.

#include <QDialog>

class Prompts;
class SettingsStore;
class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

// Template 165 and its controls.
constexpr int IDD_FORMAT = 165;
constexpr int IDC_INCLUDE_BOOT_SECTOR = 1040;
constexpr int IDC_VOLUME_NAME = 1042;
constexpr int IDC_TRACKS = 1044;
constexpr int IDC_SECTORS = 1046;
constexpr int IDC_40_TRACK = 1071;
constexpr int IDC_35_TRACK = 1072;
constexpr int IDC_80_TRACK = 1073;
constexpr int IDC_SINGLE_DENSITY = 1074;
constexpr int IDC_DOUBLE_DENSITY = 1075;
constexpr int IDC_USER_DEFINED = 1076;
constexpr int IDC_DOUBLE_SIDED = 1077;
constexpr int IDC_QUAD_DENSITY = 1093;
constexpr int IDC_FLEX_FORMAT = 1162;
constexpr int IDC_OS9_FORMAT = 1164;
constexpr int IDC_PROCESSOR_6800 = 1167;
constexpr int IDC_PROCESSOR_6809 = 1168;

class CFormatDlg : public QDialog {
    Q_OBJECT
public:
    CFormatDlg(Prompts& prompts, SettingsStore& settings, QWidget* parent = nullptr);

    // Fills the controls from the stored choices; runs when the dialog is first shown (tests
    // may call it directly).
    bool OnInitDialog();

    // The track count into the Tracks box, the current density's sectors into the Sectors box.
    void ApplyTrackPreset(int tracks);

public slots:
    void On35Track();
    void On40Track();
    void On80Track();
    void OnUserDefined();
    void OnSingleDensity();
    void OnDoubleDensity();
    void OnQuadDensity();
    void OnDoubleSided();
    void OnIncludeBootSector();
    // Start: stores the choices, then makes one image. The dialog stays open.
    void OnOK();
    // Close: ends the dialog; nothing is stored.
    void OnCancel();

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void CreateControls();
    void SetPresetBoxes(bool editable);
    void RefreshPreset();
    void StoreChoices();
    void SettingsNotSaved(const QString& what);

    Prompts& m_prompts;
    SettingsStore& m_settings;
    bool m_bInitialised = false;
    bool m_bRunning = false; // a Start is making an image

    int m_nProcessor = 1;
    bool m_bIncludeBootSector = true;
    bool m_b35Tracks = false;
    bool m_b40Tracks = false;
    bool m_b80Tracks = true;
    bool m_bUserDefined = false;
    bool m_bDoubleDensity = true;
    bool m_bSingleDensity = false;
    bool m_bQuadDensity = false;
    bool m_bDoubleSided = true;
    int m_nUserCylinders = 80;
    int m_nUserSectors = 18;

    QLineEdit* m_edtVolumeName = nullptr;
    QRadioButton* m_rad6800 = nullptr;
    QRadioButton* m_rad6809 = nullptr;
    QRadioButton* m_radFlex = nullptr;
    QRadioButton* m_radOs9 = nullptr;
    QCheckBox* m_chkIncludeBootSector = nullptr;
    QRadioButton* m_rad35Track = nullptr;
    QRadioButton* m_rad40Track = nullptr;
    QRadioButton* m_rad80Track = nullptr;
    QRadioButton* m_radUserDefined = nullptr;
    QRadioButton* m_radSingleDensity = nullptr;
    QRadioButton* m_radDoubleDensity = nullptr;
    QRadioButton* m_radQuadDensity = nullptr;
    QCheckBox* m_chkDoubleSided = nullptr;
    QLineEdit* m_edtTracks = nullptr;
    QLineEdit* m_edtSectors = nullptr;
    QPushButton* m_btnStart = nullptr;
    QPushButton* m_btnClose = nullptr;
};

// The number at the start of a box's text: optional blanks, an optional sign, then digits up
// to the first other character; 0 without digits. Too large a number stays at the int limit
// instead of wrapping.
int leadingNumber(const QString& text);
