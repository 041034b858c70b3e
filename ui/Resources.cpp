#include "ui/Resources.h"

#include <QIcon>
#include <QtGlobal>

void initDiskwrightResources() {
    Q_INIT_RESOURCE(icons);
}

QIcon applicationIcon() {
    initDiskwrightResources();
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/res/diskwright_%1.png").arg(size), QSize(size, size));
    return icon;
}
