// Runs on a private session bus (ctest starts it under dbus-run-session).

#include "app/DiskwrightDlgAutoProxy.h"
#include "app/SettingsStore.h"
#include "tests/ui/support/ScriptedPrompts.h"
#include "tests/ui/support/UiFixtures.h"
#include "ui/DiskwrightDlg.h"
#include "ui/Startup.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <optional>

using namespace dwtest;

namespace {

const QString Service = CDiskwrightDlgAutoProxy::ServiceName;

QDBusConnection connectClient(const QString& name) {
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
}

// Leaves the bus as a client that crashed would; the connection closes with its last handle.
void leave(std::optional<QDBusConnection>& client) {
    const QString name = client->name();
    client.reset();
    QDBusConnection::disconnectFromBus(name);
}

// Calls `method` of the program; the local loop lets the program, in this same process, answer.
QDBusMessage call(const QDBusConnection& client, const char* method) {
    const QDBusMessage message = QDBusMessage::createMethodCall(
        Service, "/Application", "org.larkspurworkshop.Diskwright.Application", method);
    return client.call(message, QDBus::BlockWithGui);
}

} // namespace

class AutomationTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(QDBusConnection::sessionBus().isConnected(), "no session bus"); }

    void init() {
        clearSettings();
        SettingsStore().set(Settings::EditorPath, "vi");
    }

    void programEndsWhenTheLastHoldingClientLeaves() {
        std::optional<QDBusConnection> client = connectClient("holder");
        QVERIFY(client->isConnected());
        CDiskwrightApp app;
        ScriptedPrompts prompts;
        SettingsStore settings;
        bool hiddenWhileHeld = false;
        bool clientLeft = false;
        prompts.expectDialog([&](QDialog& window) {
            QTimer::singleShot(0, &window, [&] {
                QVERIFY(client->interface()->isServiceRegistered(Service));
                QCOMPARE(call(*client, "Hold").type(), QDBusMessage::ReplyMessage);
                QTest::mouseClick(control(window, IDCANCEL), Qt::LeftButton);
                hiddenWhileHeld = !window.isVisible();
                // Gone without a Release.
                QTimer::singleShot(0, [&] {
                    clientLeft = true;
                    leave(client);
                });
            });
            return window.exec();
        });
        QCOMPARE(InitInstance(app, prompts, settings, {"-Automation"}, StartupEnvironment{}), 0);
        QVERIFY(prompts.allShown());
        QVERIFY(hiddenWhileHeld);
        QVERIFY(clientLeft); // the start-up did not end before
        QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(Service));
    }

    void holdsCountPerClientAndEveryCloseHides() {
        CDiskwrightDlgAutoProxy proxy;
        QVERIFY(proxy.Register(QDBusConnection::sessionBus()));
        {
            CDiskwrightDlgAutoProxy second;
            QVERIFY(!second.Register(connectClient("second server")));
        }
        QSignalSpy released(&proxy, &CDiskwrightDlgAutoProxy::released);
        std::optional<QDBusConnection> a = connectClient("a");
        QDBusConnection b = connectClient("b");
        QCOMPARE(call(b, "Release").errorName(),
                 QString("org.larkspurworkshop.Diskwright.Error.NotHeld"));
        call(*a, "Hold");
        call(b, "Hold");
        call(b, "Hold");
        QVERIFY(proxy.IsHeld());

        ScriptedWindow window;
        CDiskwrightDlg& w = window.dlg;
        w.SetAutoProxy(&proxy);
        QSignalSpy finished(&w, &QDialog::finished);
        const std::function<void()> closings[] = {
            [&] { window.press(IDCANCEL); },
            [&] { QTest::keyClick(&w, Qt::Key_Escape); },
            [&] { w.close(); },
        };
        for (const auto& close : closings) {
            w.show();
            QVERIFY(QTest::qWaitForWindowActive(&w));
            close();
            QVERIFY(!w.isVisible());
        }
        QCOMPARE(finished.count(), 0);

        leave(a);
        call(b, "Release");
        QVERIFY(proxy.IsHeld()); // b still holds once
        call(b, "Release");
        QTRY_COMPARE(released.count(), 1);
        QVERIFY(!proxy.IsHeld());

        w.show();
        window.press(IDCANCEL);
        QCOMPARE(finished.count(), 1);
        QDBusConnection::disconnectFromBus("b");
    }
};

DW_UI_TEST_MAIN(AutomationTest)
#include "AutomationTest.moc"
