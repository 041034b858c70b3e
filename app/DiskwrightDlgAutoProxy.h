#pragma once

// The automation object on the D-Bus session bus. A client that calls Hold() keeps the program
// alive until it calls Release() as often or leaves the bus; while it does, closing the window
// only hides it. The object offers nothing else.

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusServiceWatcher>
#include <QHash>
#include <QObject>
#include <QString>

#include <optional>

class CDiskwrightDlgAutoProxy : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.larkspurworkshop.Diskwright.Application")
public:
    static constexpr char ServiceName[] = "org.larkspurworkshop.Diskwright";
    static constexpr char ObjectPath[] = "/Application";

    explicit CDiskwrightDlgAutoProxy(QObject* parent = nullptr);
    ~CDiskwrightDlgAutoProxy() override;

    // Serves the object on `bus` and takes the well-known name. False, with nothing left on the
    // bus, when the bus is not there or another process owns the name.
    bool Register(const QDBusConnection& bus);

    // True while any client holds the program.
    bool IsHeld() const { return !m_holds.isEmpty(); }

public slots:
    Q_SCRIPTABLE void Hold();
    Q_SCRIPTABLE void Release();

signals:
    // The last hold has gone.
    void released();

private slots:
    void OnClientLeft(const QString& client);

private:
    void Drop(const QString& client);

    std::optional<QDBusConnection> m_bus;
    QDBusServiceWatcher m_watcher;
    QHash<QString, int> m_holds; // by the client's unique bus name
};

// The folder of the user's session-bus activation files.
QString userActivationFolder();

// Removes the activation file for our name from `folder` when it reads as an earlier version
// wrote it for `executable`: the installed program's own is registered by the package, and a
// user's copy would shadow it and outlive the program. Any other file stays. False, with `error`
// set, when it cannot be removed.
bool removeOwnActivationFile(const QString& folder, const QString& executable, QString& error);
