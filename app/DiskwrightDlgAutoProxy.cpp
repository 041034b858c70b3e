#include "app/DiskwrightDlgAutoProxy.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>

CDiskwrightDlgAutoProxy::CDiskwrightDlgAutoProxy(QObject* parent) : QObject(parent) {
    m_watcher.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this,
            &CDiskwrightDlgAutoProxy::OnClientLeft);
}

CDiskwrightDlgAutoProxy::~CDiskwrightDlgAutoProxy() {
    if (!m_bus)
        return;
    m_bus->unregisterService(QString::fromLatin1(ServiceName));
    m_bus->unregisterObject(QString::fromLatin1(ObjectPath));
}

bool CDiskwrightDlgAutoProxy::Register(const QDBusConnection& bus) {
    if (m_bus || !bus.isConnected())
        return false;
    QDBusConnection connection = bus;
    if (!connection.registerObject(QString::fromLatin1(ObjectPath), this,
                                   QDBusConnection::ExportScriptableSlots))
        return false;
    if (!connection.registerService(QString::fromLatin1(ServiceName))) {
        connection.unregisterObject(QString::fromLatin1(ObjectPath));
        return false;
    }
    m_bus = connection;
    m_watcher.setConnection(connection);
    return true;
}

void CDiskwrightDlgAutoProxy::Hold() {
    if (!calledFromDBus())
        return;
    const QString client = message().service();
    if (!m_holds.contains(client)) {
        m_watcher.addWatchedService(client);
        // A client that left before the watch was set would otherwise hold for ever.
        if (!connection().interface()->isServiceRegistered(client)) {
            m_watcher.removeWatchedService(client);
            return;
        }
    }
    ++m_holds[client];
}

void CDiskwrightDlgAutoProxy::Release() {
    if (!calledFromDBus())
        return;
    const QString client = message().service();
    const auto hold = m_holds.find(client);
    if (hold == m_holds.end()) {
        sendErrorReply(QStringLiteral("org.larkspurworkshop.Diskwright.Error.NotHeld"),
                       QStringLiteral("This client does not hold Diskwright."));
        return;
    }
    if (--hold.value() == 0)
        Drop(client);
}

void CDiskwrightDlgAutoProxy::OnClientLeft(const QString& client) {
    Drop(client);
}

void CDiskwrightDlgAutoProxy::Drop(const QString& client) {
    m_watcher.removeWatchedService(client);
    if (m_holds.remove(client) && m_holds.isEmpty())
        emit released();
}

QString userActivationFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/dbus-1/services");
}

namespace {
// The bus reads Exec like a shell: plain paths were written as they are, others single-quoted.
QString shellWord(QString word) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9/._+-]+$"));
    if (plain.match(word).hasMatch())
        return word;
    return QLatin1Char('\'') + word.replace(QLatin1Char('\''), QStringLiteral("'\\''")) +
           QLatin1Char('\'');
}
} // namespace

bool removeOwnActivationFile(const QString& folder, const QString& executable, QString& error) {
    const QString name = QString::fromLatin1(CDiskwrightDlgAutoProxy::ServiceName);
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".service");
    const QByteArray written = QStringLiteral("[D-BUS Service]\nName=%1\nExec=%2 -Automation\n")
                                   .arg(name, shellWord(executable))
                                   .toUtf8();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.readAll() != written)
        return true;
    file.close();
    if (!file.remove()) {
        error = QStringLiteral("Unable to remove the activation file of an earlier version, ") +
                path + QStringLiteral(", which stays: ") + file.errorString();
        return false;
    }
    return true;
}
