#include "app/DiskwrightApp.h"
#include "app/SettingsStore.h"
#include "ui/QtPrompts.h"
#include "ui/Startup.h"

#include "DiskwrightVersion.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// While Qt reaches for the window system its complaints about it are held back: when no display
// can be opened they become one line and the program ends with status 1; otherwise they go out
// as usual once the application stands.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
QtMessageHandler usualHandler = nullptr;
std::vector<HeldMessage> held;

void holdDisplayMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        const QString reason =
            held.empty() ? QString()
                         : QStringLiteral(" (") + held.front().text.trimmed() + QLatin1Char(')');
        std::fprintf(stderr,
                     "diskwright: no display could be opened%s; run it in a desktop session, or "
                     "under xvfb-run\n",
                     qPrintable(reason));
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (context.category && QByteArray(context.category).startsWith("qt.qpa"))
        held.push_back({type, context.category, text});
    else
        usualHandler(type, context, text);
}

void releaseDisplayMessages() {
    qInstallMessageHandler(usualHandler);
    for (const HeldMessage& message : held)
        usualHandler(message.type,
                     QMessageLogContext(nullptr, 0, nullptr, message.category.constData()),
                     message.text);
    held.clear();
}

} // namespace

int main(int argc, char* argv[]) {
    // Help and version are answered before Qt starts, so they work without a display.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = CommandLine::parse(arguments);
    if (line.help) {
        std::fputs(qPrintable(CommandLine::helpText()), stdout);
        return 0;
    }
    if (line.version) {
        std::puts("diskwright " DISKWRIGHT_VERSION);
        return 0;
    }

    usualHandler = qInstallMessageHandler(holdDisplayMessages);
    QApplication application(argc, argv);
    releaseDisplayMessages();
    CDiskwrightApp app;
    QtPrompts prompts;
    SettingsStore settings;
    return InitInstance(app, prompts, settings, QApplication::arguments().mid(1),
                        StartupEnvironment::forThisProgram());
}
