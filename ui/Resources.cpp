#include "ui/Resources.h"

#include <QIcon>
#include <QtGlobal>

void initDiskwrightResources() {
    Q_INIT_RESOURCE(diskwright);
}

QIcon applicationIcon() {
    initDiskwrightResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/res/icon128_16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/res/icon128_32.png"), QSize(32, 32));
    return icon;
}
