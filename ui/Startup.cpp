#include "ui/Startup.h"

#include "app/DiskwrightDlgAutoProxy.h"
#include "app/SettingsStore.h"
#include "ui/DiskwrightDlg.h"
#include "ui/EditorPathDlg.h"
#include "ui/Prompts.h"
#include "ui/Resources.h"

#include <QApplication>
#include <QEventLoop>
#include <QIcon>

#include <cstdio>

namespace {
std::unique_ptr<CDiskwrightDlg> windowFor(CDiskwrightApp& app, Prompts& prompts,
                                          SettingsStore& settings, StartupImage startup,
                                          const ImageOpener& opener) {
    auto window = std::make_unique<CDiskwrightDlg>(app, prompts, settings, nullptr, opener);
    window->SetImage(std::move(startup.image), startup.readOnly);
    window->SetTitle(startup.title);
    return window;
}
} // namespace

StartupEnvironment StartupEnvironment::forThisProgram() {
    StartupEnvironment environment;
    environment.activationFolder = userActivationFolder();
    environment.executable = QCoreApplication::applicationFilePath();
    return environment;
}

int InitInstance(CDiskwrightApp& app, Prompts& prompts, SettingsStore& settings,
                 const QStringList& arguments, const StartupEnvironment& environment) {
    // The main window's modal loop is the program's loop: a hidden window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(applicationIcon());
    // Ties the window to diskwright.desktop: its name and icon in task bars and docks.
    QGuiApplication::setDesktopFileName(QStringLiteral("diskwright"));

    // An automation start serves the keep-alive object; without a session bus, or with the
    // name taken, the program runs as if the user had started it.
    std::unique_ptr<CDiskwrightDlgAutoProxy> proxy;
    if (CDiskwrightApp::IsAutomationStart(arguments)) {
        proxy = std::make_unique<CDiskwrightDlgAutoProxy>();
        if (!proxy->Register(environment.bus ? *environment.bus : QDBusConnection::sessionBus()))
            proxy.reset();
    }
    // The package registers the automation service; the user's folders are only tidied.
    if (!environment.activationFolder.isEmpty()) {
        QString error;
        if (!removeOwnActivationFile(environment.activationFolder, environment.executable, error))
            std::fprintf(stderr, "Diskwright: %s\n", qPrintable(error));
    }

    StartupImage startup = app.OpenCommandLineImage(arguments, environment.opener);
    app.LoadSettings(settings);
    if (app.m_strEditorPath.isEmpty()) {
        CEditorPathDlg editor(prompts);
        editor.m_strPath.clear();
        prompts.runDialog(editor);
        // Whichever button closed it: after Cancel the path stays empty and the prompt returns
        // at the next start.
        app.m_strEditorPath = editor.m_strPath;
    }
    if (!app.SaveSettings(settings))
        prompts.message(nullptr, QStringLiteral("Unable to save the settings in ") +
                                     settings.location() +
                                     QStringLiteral(".\nDiskwright goes on with the settings "
                                                    "it read."));

    std::unique_ptr<CDiskwrightDlg> window =
        windowFor(app, prompts, settings, std::move(startup), environment.opener);
    window->SetAutoProxy(proxy.get());
    prompts.runDialog(*window);

    // Closed while held, the window was only hidden; nothing can show it again, so the program
    // ends when the last client lets go.
    if (proxy && proxy->IsHeld() && window->isHidden()) {
        QEventLoop loop;
        QObject::connect(proxy.get(), &CDiskwrightDlgAutoProxy::released, &loop, &QEventLoop::quit);
        loop.exec();
    }
    window.reset(); // closes the image
    return 0;
}

std::unique_ptr<CDiskwrightDlg> makeMainWindow(CDiskwrightApp& app, Prompts& prompts,
                                               SettingsStore& settings,
                                               const QStringList& arguments,
                                               const ImageOpener& opener) {
    StartupImage startup = app.OpenCommandLineImage(arguments, opener);
    app.LoadSettings(settings);
    return windowFor(app, prompts, settings, std::move(startup), opener);
}
