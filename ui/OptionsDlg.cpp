#include "ui/OptionsDlg.h"

#include "app/SettingsStore.h"
#include "ui/ControlIds.h"
#include "ui/DialogUnits.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>

namespace {
QCheckBox* addCheckBox(QWidget* dialog, int id, const QString& text, int x, int y, int w, int h) {
    return placeControl(dialog, new QCheckBox(text, dialog), id, x, y, w, h);
}
} // namespace

COptionsDlg::COptionsDlg(const SettingsStore& settings, QWidget* parent)
    : QDialog(parent), m_settings(settings) {
    setWindowTitle(QStringLiteral("Configuration Options"));
    setFont(dialogFont());
    setFixedSize(DialogUnits(font()).size(287, 89));

    // The group box first, so the boxes inside it lie above it.
    placeControl(this, new QGroupBox(this), IDC_STATIC, 7, 7, 273, 51)
        ->setAccessibleName(QStringLiteral("Conversions"));
    m_chkAddLineFeeds = addCheckBox(this, IDC_ADD_LINE_FEEDS,
                                    QStringLiteral("Add Linefeeds during Export"), 13, 17, 105, 10);
    m_chkStripLineFeeds =
        addCheckBox(this, IDC_STRIP_LINE_FEEDS, QStringLiteral("Strip Linefeeds during Import"), 13,
                    29, 105, 10);
    m_chkCompactBinary =
        addCheckBox(this, IDC_COMPACT_BINARY,
                    QStringLiteral("Compact Binary Files during Import/Export"), 13, 41, 147, 10);
    m_chkExpandTabs = addCheckBox(this, IDC_EXPAND_TABS,
                                  QStringLiteral("Expand Tabs during Export"), 159, 18, 101, 10);
    m_chkCompressSpaces =
        addCheckBox(this, IDC_COMPRESS_SPACES, QStringLiteral("Compress Spaces during Import"), 159,
                    29, 115, 10);
    QPushButton* ok = addButton(this, IDOK, QStringLiteral("OK"), 85, 68, 50, 14);
    QPushButton* cancel = addButton(this, IDCANCEL, QStringLiteral("Cancel"), 151, 68, 50, 14);
    ok->setDefault(true);

    connect(ok, &QPushButton::clicked, this, &COptionsDlg::OnOK);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void COptionsDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    OnInitDialog();
}

bool COptionsDlg::OnInitDialog() {
    if (m_bInitialised)
        return true;
    m_bInitialised = true;
    m_chkAddLineFeeds->setChecked(m_settings.get(Settings::AddLineFeeds) != 0);
    m_chkExpandTabs->setChecked(m_settings.get(Settings::ExpandTabs) != 0);
    m_chkCompactBinary->setChecked(m_settings.get(Settings::CompactBinary) != 0);
    m_chkStripLineFeeds->setChecked(m_settings.get(Settings::StripLineFeeds) != 0);
    m_chkCompressSpaces->setChecked(m_settings.get(Settings::CompressSpaces) != 0);
    return true;
}

void COptionsDlg::OnOK() {
    m_bCompactBinary = m_chkCompactBinary->isChecked();
    m_bAddLineFeeds = m_chkAddLineFeeds->isChecked();
    m_bStripLineFeeds = m_chkStripLineFeeds->isChecked();
    m_bCompressSpaces = m_chkCompressSpaces->isChecked();
    m_bExpandTabs = m_chkExpandTabs->isChecked();
    accept();
}
