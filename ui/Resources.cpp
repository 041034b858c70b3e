#include "ui/Resources.h"

#include <QtGlobal>

void initDiskwrightResources() {
    Q_INIT_RESOURCE(diskwright);
}
