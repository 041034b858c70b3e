#include "app/DiskwrightApp.h"
#include "app/SettingsStore.h"
#include "ui/QtPrompts.h"
#include "ui/Startup.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    CDiskwrightApp app;
    QtPrompts prompts;
    SettingsStore settings;
    return InitInstance(app, prompts, settings, QApplication::arguments().mid(1),
                        StartupEnvironment::forThisProgram());
}
