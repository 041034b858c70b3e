#include "ui/Startup.h"

#include "ui/DiskwrightDlg.h"

std::unique_ptr<CDiskwrightDlg> makeMainWindow(CDiskwrightApp& app, Prompts& prompts,
                                               SettingsStore& settings,
                                               const QStringList& arguments,
                                               const ImageOpener& opener) {
    StartupImage startup = app.OpenCommandLineImage(arguments, opener);
    app.LoadSettings(settings);
    auto window = std::make_unique<CDiskwrightDlg>(app, prompts, settings, nullptr, opener);
    window->SetImage(std::move(startup.image), startup.readOnly);
    window->SetTitle(startup.title);
    return window;
}
