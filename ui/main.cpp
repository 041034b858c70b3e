#include "app/DiskwrightApp.h"
#include "app/SettingsStore.h"
#include "ui/QtPrompts.h"
#include "ui/Startup.h"

#include "DiskwrightVersion.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    // Answered before Qt starts, so it works without a display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("diskwright " DISKWRIGHT_VERSION);
        return 0;
    }
    QApplication application(argc, argv);
    CDiskwrightApp app;
    QtPrompts prompts;
    SettingsStore settings;
    return InitInstance(app, prompts, settings, QApplication::arguments().mid(1),
                        StartupEnvironment::forThisProgram());
}
