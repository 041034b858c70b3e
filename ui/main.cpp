#include "app/DiskwrightApp.h"
#include "app/SettingsStore.h"
#include "ui/DiskwrightDlg.h"
#include "ui/QtPrompts.h"
#include "ui/Startup.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    CDiskwrightApp app;
    QtPrompts prompts;
    SettingsStore settings;
    std::unique_ptr<CDiskwrightDlg> window =
        makeMainWindow(app, prompts, settings, QApplication::arguments().mid(1));
    window->exec();
    return 0;
}
