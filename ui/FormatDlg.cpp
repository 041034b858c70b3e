#include "ui/FormatDlg.h"

#include "app/SettingsStore.h"
#include "engine/Create.h"
#include "ui/ControlIds.h"
#include "ui/DialogUnits.h"
#include "ui/FormatStart.h"
#include "ui/Prompts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <limits>

namespace {

template <typename Button>
Button* addCheckable(QWidget* dialog, int id, const char* text, int x, int y, int w, int h) {
    return placeControl(dialog, new Button(QString::fromLatin1(text), dialog), id, x, y, w, h);
}

// Radio buttons of one group exclude each other, and only each other. Tab stops at the group's
// checked button (the first while none is); the arrow keys move within the group.
void group(QWidget* dialog, std::initializer_list<QRadioButton*> buttons) {
    auto* buttonGroup = new QButtonGroup(dialog);
    for (QRadioButton* button : buttons)
        buttonGroup->addButton(button);
    const auto tabStop = [buttonGroup] {
        const QList<QAbstractButton*> members = buttonGroup->buttons();
        QAbstractButton* stop = buttonGroup->checkedButton();
        for (QAbstractButton* button : members)
            button->setFocusPolicy(button == (stop ? stop : members.front()) ? Qt::StrongFocus
                                                                             : Qt::ClickFocus);
    };
    tabStop();
    QObject::connect(buttonGroup, &QButtonGroup::buttonToggled, dialog, tabStop);
}

} // namespace

int leadingNumber(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && (text[i] == QLatin1Char(' ') ||
                               (text[i] >= QLatin1Char('\t') && text[i] <= QLatin1Char('\r'))))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    constexpr qint64 limit = qint64{std::numeric_limits<int>::max()} + 1;
    qint64 value = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i)
        value = std::min(limit, value * 10 + (text[i].unicode() - '0'));
    if (negative)
        return static_cast<int>(-value);
    return static_cast<int>(std::min(value, limit - 1));
}

CFormatDlg::CFormatDlg(Prompts& prompts, SettingsStore& settings, QWidget* parent)
    : QDialog(parent), m_prompts(prompts), m_settings(settings) {
    setWindowTitle(QStringLiteral("Format Virtual Floppy Diskette"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(dialogFont());
    setProperty(ControlIdProperty, IDD_FORMAT);
    CreateControls();
}

void CFormatDlg::CreateControls() {
    const DialogUnits units(font());
    setFixedSize(units.size(179, 182));

    // The frames first, so the buttons inside them lie above them.
    for (const auto& [frame, name] : {std::pair{QRect(7, 61, 78, 66), "Tracks"},
                                      {QRect(89, 61, 75, 51), "Density"},
                                      {QRect(56, 26, 116, 24), "Format"}})
        placeControl(this, new QGroupBox(this), IDC_STATIC, frame.x(), frame.y(), frame.width(),
                     frame.height())
            ->setAccessibleName(QString::fromLatin1(name));
    addStatic(this, IDC_STATIC, QStringLiteral("Volume Name"), 12, 11, 48, 8);
    addStatic(this, IDC_STATIC, QStringLiteral("Tracks"), 28, 141, 26, 8);
    addStatic(this, IDC_STATIC, QStringLiteral("Sectors"), 92, 141, 28, 8);

    m_edtVolumeName = placeControl(this, new QLineEdit(this), IDC_VOLUME_NAME, 65, 10, 107, 12);
    m_rad6800 = addCheckable<QRadioButton>(this, IDC_PROCESSOR_6800, "6800", 12, 27, 32, 10);
    m_rad6809 = addCheckable<QRadioButton>(this, IDC_PROCESSOR_6809, "6809", 12, 39, 32, 10);
    m_radFlex = addCheckable<QRadioButton>(this, IDC_FLEX_FORMAT, "Flex Format", 62, 35, 52, 10);
    m_radOs9 = addCheckable<QRadioButton>(this, IDC_OS9_FORMAT, "OS9 Format", 116, 35, 53, 10);
    m_chkIncludeBootSector = addCheckable<QCheckBox>(this, IDC_INCLUDE_BOOT_SECTOR,
                                                     "Include Boot Sector", 12, 52, 79, 10);
    m_rad35Track = addCheckable<QRadioButton>(this, IDC_35_TRACK, "35 Track", 13, 71, 45, 10);
    m_rad40Track = addCheckable<QRadioButton>(this, IDC_40_TRACK, "40 Track", 13, 83, 45, 10);
    m_rad80Track = addCheckable<QRadioButton>(this, IDC_80_TRACK, "80 Track", 13, 96, 45, 10);
    m_radUserDefined =
        addCheckable<QRadioButton>(this, IDC_USER_DEFINED, "User Defined", 13, 109, 57, 10);
    m_radSingleDensity =
        addCheckable<QRadioButton>(this, IDC_SINGLE_DENSITY, "Single Density", 95, 72, 61, 10);
    m_radDoubleDensity =
        addCheckable<QRadioButton>(this, IDC_DOUBLE_DENSITY, "Double Density", 95, 84, 64, 10);
    m_radQuadDensity =
        addCheckable<QRadioButton>(this, IDC_QUAD_DENSITY, "Quad Density", 95, 96, 59, 10);
    m_chkDoubleSided =
        addCheckable<QCheckBox>(this, IDC_DOUBLE_SIDED, "Double Sided", 95, 116, 59, 10);
    m_edtTracks = placeControl(this, new QLineEdit(this), IDC_TRACKS, 58, 139, 23, 12);
    m_edtSectors = placeControl(this, new QLineEdit(this), IDC_SECTORS, 122, 139, 23, 12);
    m_edtVolumeName->setAccessibleName(QStringLiteral("Volume Name"));
    m_edtTracks->setAccessibleName(QStringLiteral("Tracks"));
    m_edtSectors->setAccessibleName(QStringLiteral("Sectors"));
    m_btnStart = addButton(this, IDOK, QStringLiteral("&Start"), 63, 161, 50, 14);
    m_btnClose = addButton(this, IDCANCEL, QStringLiteral("&Close"), 122, 161, 50, 14);
    m_btnStart->setDefault(true);

    group(this, {m_rad6800, m_rad6809});
    group(this, {m_radFlex, m_radOs9});
    group(this, {m_rad35Track, m_rad40Track, m_rad80Track, m_radUserDefined});
    group(this, {m_radSingleDensity, m_radDoubleDensity, m_radQuadDensity});

    const QList<QWidget*> tabOrder{m_edtVolumeName,  m_rad6800,          m_rad6809,
                                   m_radFlex,        m_radOs9,           m_chkIncludeBootSector,
                                   m_rad35Track,     m_rad40Track,       m_rad80Track,
                                   m_radUserDefined, m_radSingleDensity, m_radDoubleDensity,
                                   m_radQuadDensity, m_chkDoubleSided,   m_edtTracks,
                                   m_edtSectors,     m_btnStart,         m_btnClose};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(m_rad35Track, &QRadioButton::clicked, this, &CFormatDlg::On35Track);
    connect(m_rad40Track, &QRadioButton::clicked, this, &CFormatDlg::On40Track);
    connect(m_rad80Track, &QRadioButton::clicked, this, &CFormatDlg::On80Track);
    connect(m_radUserDefined, &QRadioButton::clicked, this, &CFormatDlg::OnUserDefined);
    connect(m_radSingleDensity, &QRadioButton::clicked, this, &CFormatDlg::OnSingleDensity);
    connect(m_radDoubleDensity, &QRadioButton::clicked, this, &CFormatDlg::OnDoubleDensity);
    connect(m_radQuadDensity, &QRadioButton::clicked, this, &CFormatDlg::OnQuadDensity);
    connect(m_chkDoubleSided, &QCheckBox::clicked, this, &CFormatDlg::OnDoubleSided);
    connect(m_chkIncludeBootSector, &QCheckBox::clicked, this, &CFormatDlg::OnIncludeBootSector);
    connect(m_btnStart, &QPushButton::clicked, this, &CFormatDlg::OnOK);
    connect(m_btnClose, &QPushButton::clicked, this, &CFormatDlg::OnCancel);
}

void CFormatDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_bInitialised)
        OnInitDialog();
}

bool CFormatDlg::OnInitDialog() {
    m_bInitialised = true;
    m_nProcessor = m_settings.get(Settings::Processor);
    m_bIncludeBootSector = m_settings.get(Settings::IncludeBootSector) != 0;
    m_b35Tracks = m_settings.get(Settings::Tracks35) != 0;
    m_b40Tracks = m_settings.get(Settings::Tracks40) != 0;
    m_b80Tracks = m_settings.get(Settings::Tracks80) != 0;
    m_bUserDefined = m_settings.get(Settings::UserDefined) != 0;
    m_bDoubleDensity = m_settings.get(Settings::DoubleDensity) != 0;
    m_bSingleDensity = m_settings.get(Settings::SingleDensity) != 0;
    m_bQuadDensity = m_settings.get(Settings::QuadDensity) != 0;
    m_bDoubleSided = m_settings.get(Settings::DoubleSided) != 0;
    m_nUserCylinders = m_settings.get(Settings::UserDefinedCylinders);
    m_nUserSectors = m_settings.get(Settings::UserDefinedSectors);

    m_edtVolumeName->clear();
    m_edtTracks->setText(QString::number(m_nUserCylinders));
    m_edtSectors->setText(QString::number(m_nUserSectors));

    m_chkIncludeBootSector->setChecked(m_bIncludeBootSector);
    m_rad6800->setEnabled(m_bIncludeBootSector);
    m_rad6809->setEnabled(m_bIncludeBootSector);

    // A group shows one radio: with several flags stored, the one whose preset wins.
    for (auto [flag, radio] : {std::pair{m_b35Tracks, m_rad35Track},
                               {m_b40Tracks, m_rad40Track},
                               {m_b80Tracks, m_rad80Track},
                               {m_bUserDefined, m_radUserDefined}})
        if (flag)
            radio->setChecked(true);
    for (auto [flag, radio] : {std::pair{m_bQuadDensity, m_radQuadDensity},
                               {m_bSingleDensity, m_radSingleDensity},
                               {m_bDoubleDensity, m_radDoubleDensity}})
        if (flag)
            radio->setChecked(true);
    m_chkDoubleSided->setChecked(m_bDoubleSided);

    if (m_bUserDefined) {
        SetPresetBoxes(true);
    } else {
        SetPresetBoxes(false);
        RefreshPreset();
    }

    m_radFlex->setChecked(true);
    (m_nProcessor == 0 ? m_rad6800 : m_rad6809)->setChecked(true);
    return true;
}

void CFormatDlg::ApplyTrackPreset(int tracks) {
    const int sectors = m_bDoubleDensity   ? dw::DoubleDensitySectors
                        : m_bSingleDensity ? dw::SingleDensitySectors
                                           : dw::QuadDensitySectors;
    m_edtTracks->setText(QString::number(tracks));
    m_edtSectors->setText(QString::number(sectors));
}

void CFormatDlg::SetPresetBoxes(bool editable) {
    // A box that cannot be typed in shows the dialog's ground, as read-only boxes do.
    QPalette colours = palette();
    if (!editable)
        colours.setColor(QPalette::Base, colours.color(QPalette::Window));
    for (QLineEdit* box : {m_edtTracks, m_edtSectors}) {
        box->setReadOnly(!editable);
        box->setPalette(colours);
    }
}

void CFormatDlg::RefreshPreset() {
    if (m_b35Tracks)
        ApplyTrackPreset(35);
    if (m_b40Tracks)
        ApplyTrackPreset(40);
    if (m_b80Tracks)
        ApplyTrackPreset(80);
}

void CFormatDlg::On35Track() {
    SetPresetBoxes(false);
    m_b35Tracks = true;
    m_b40Tracks = m_b80Tracks = m_bUserDefined = false;
    ApplyTrackPreset(35);
}

void CFormatDlg::On40Track() {
    SetPresetBoxes(false);
    m_b40Tracks = true;
    m_b35Tracks = m_b80Tracks = m_bUserDefined = false;
    ApplyTrackPreset(40);
}

void CFormatDlg::On80Track() {
    SetPresetBoxes(false);
    m_b80Tracks = true;
    m_b35Tracks = m_b40Tracks = m_bUserDefined = false;
    ApplyTrackPreset(80);
}

void CFormatDlg::OnUserDefined() {
    SetPresetBoxes(true);
    m_bUserDefined = true;
    m_b35Tracks = m_b40Tracks = m_b80Tracks = false;
    m_edtTracks->setText(QString::number(m_nUserCylinders));
    m_edtSectors->setText(QString::number(m_nUserSectors));
}

void CFormatDlg::OnSingleDensity() {
    m_bSingleDensity = true;
    m_bDoubleDensity = m_bQuadDensity = false;
    RefreshPreset();
}

void CFormatDlg::OnDoubleDensity() {
    m_bDoubleDensity = true;
    m_bSingleDensity = m_bQuadDensity = false;
    RefreshPreset();
}

void CFormatDlg::OnQuadDensity() {
    m_bQuadDensity = true;
    m_bSingleDensity = m_bDoubleDensity = false;
    RefreshPreset();
}

void CFormatDlg::OnDoubleSided() {
    m_bDoubleSided = m_chkDoubleSided->isChecked();
}

void CFormatDlg::OnIncludeBootSector() {
    m_bIncludeBootSector = m_chkIncludeBootSector->isChecked();
    if (!m_settings.set(Settings::IncludeBootSector, m_bIncludeBootSector ? 1 : 0))
        SettingsNotSaved(QStringLiteral("the boot sector choice was not stored"));
    m_rad6800->setEnabled(m_bIncludeBootSector);
    m_rad6809->setEnabled(m_bIncludeBootSector);
}

void CFormatDlg::StoreChoices() {
    m_nProcessor = m_rad6809->isChecked() ? 1 : 0;
    m_bIncludeBootSector = m_chkIncludeBootSector->isChecked();
    m_b35Tracks = m_rad35Track->isChecked();
    m_b40Tracks = m_rad40Track->isChecked();
    m_b80Tracks = m_rad80Track->isChecked();
    m_bUserDefined = m_radUserDefined->isChecked();
    m_bDoubleDensity = m_radDoubleDensity->isChecked();
    m_bSingleDensity = m_radSingleDensity->isChecked();
    m_bQuadDensity = m_radQuadDensity->isChecked();
    m_bDoubleSided = m_chkDoubleSided->isChecked();
    // Whatever track radio is chosen, so a preset's values become the next user-defined ones.
    m_nUserCylinders = leadingNumber(m_edtTracks->text());
    m_nUserSectors = leadingNumber(m_edtSectors->text());

    // One write: each value on its own would cost a rewrite of the settings file.
    const bool saved = m_settings.set({{Settings::Processor, m_nProcessor},
                                       {Settings::IncludeBootSector, m_bIncludeBootSector},
                                       {Settings::Tracks35, m_b35Tracks},
                                       {Settings::Tracks40, m_b40Tracks},
                                       {Settings::Tracks80, m_b80Tracks},
                                       {Settings::UserDefined, m_bUserDefined},
                                       {Settings::DoubleDensity, m_bDoubleDensity},
                                       {Settings::SingleDensity, m_bSingleDensity},
                                       {Settings::QuadDensity, m_bQuadDensity},
                                       {Settings::DoubleSided, m_bDoubleSided},
                                       {Settings::UserDefinedCylinders, m_nUserCylinders},
                                       {Settings::UserDefinedSectors, m_nUserSectors}});
    if (!saved)
        SettingsNotSaved(QStringLiteral("the choices of this dialog were not stored"));
}

void CFormatDlg::OnOK() {
    if (m_bRunning)
        return;
    StoreChoices();

    dw::FormatParameters p;
    p.format = m_radFlex->isChecked() ? dw::DiskFormat::Flex : dw::DiskFormat::Os9;
    p.tracks = m_nUserCylinders;
    p.sectorsPerSide = m_nUserSectors;
    p.doubleSided = m_bDoubleSided;
    p.singleDensity = m_bSingleDensity;
    p.includeBootSector = m_bIncludeBootSector;
    p.processor = m_nProcessor == 0 ? dw::Processor::M6800 : dw::Processor::M6809;
    m_bRunning = true;
    RunFormatStart(this, m_prompts, m_settings, p, m_edtVolumeName->text());
    m_bRunning = false;
}

void CFormatDlg::OnCancel() {
    reject();
}

void CFormatDlg::reject() {
    // The window's close button still reaches a disabled dialog: not while an image is made.
    if (!m_bRunning)
        QDialog::reject();
}

void CFormatDlg::SettingsNotSaved(const QString& what) {
    m_prompts.message(this, QStringLiteral("Unable to save the settings in ") +
                                m_settings.location() + QStringLiteral("; ") + what +
                                QLatin1Char('.'));
}
