#include "ui/AboutDlg.h"

#include "ui/ControlIds.h"
#include "ui/DialogUnits.h"
#include "ui/Resources.h"

#include "DiskwrightVersion.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    initDiskwrightResources();
    setWindowTitle(QStringLiteral("About Diskwright"));
    setFont(dialogFont());

    auto* icon = new QLabel(this);
    icon->setPixmap(applicationIcon().pixmap(QSize(64, 64), devicePixelRatio()));
    icon->setProperty(ControlIdProperty, IDR_MAINFRAME);
    icon->setAccessibleName(QStringLiteral("Diskwright icon"));

    auto* version = new QLabel(QStringLiteral("Diskwright Version " DISKWRIGHT_VERSION), this);
    version->setProperty(ControlIdProperty, IDC_STATIC);

    auto* disclaimer = new QLabel(
        QStringLiteral("This program is provided as it is, without any warranty. Keep a copy "
                       "of every disk image before you change it."),
        this);
    disclaimer->setWordWrap(true);

    auto* thanks = new QLabel(
        QStringLiteral("With thanks to the authors of FLEX and of the 6800 and 6809 "
                       "emulators that keep these diskettes alive, and to the Qt, CLI11 and "
                       "GoogleTest projects."),
        this);
    thanks->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setProperty(ControlIdProperty, IDOK);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
    layout->addWidget(version, 0, 1);
    layout->addWidget(disclaimer, 1, 1);
    layout->addWidget(thanks, 2, 1);
    layout->addWidget(buttons, 3, 0, 1, 2);
    setFixedWidth(360);
}
