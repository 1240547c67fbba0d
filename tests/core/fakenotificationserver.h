#pragma once

#include "support/qtapp.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <vector>

// org.freedesktop.Notifications as a test double: records every Notify call and answers with the
// notification's id, or, when `silent` is set, never at all. click() is the user clicking one: like a
// real server it tells only the connection that posted it.
class FakeNotificationServer : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call
    {
        QString appName;
        uint replacesId = 0;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int expireTimeout = 0;
        QString sender;
        uint id = 0;
    };

    std::vector<Call> calls;
    bool silent = false;

    void click(const Call& call, const QDBusConnection& bus, const QString& action = QStringLiteral("default"))
    {
        QDBusMessage signal = QDBusMessage::createTargetedSignal(
            call.sender, QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
        signal << call.id << action;
        bus.send(signal);
    }

public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int expireTimeout)
    {
        const uint id = replacesId != 0 ? replacesId : ++m_lastId;
        calls.push_back(
            {appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout, message().service(), id});
        setDelayedReply(silent);
        return id;
    }

private:
    uint m_lastId = 100;
};

// A session bus of the test's own (a dbus-daemon started here, stopped at the end) and two
// connections to it: `client` posts, `server` serves. isUp() is false where dbus-daemon is missing.
class PrivateBus
{
public:
    PrivateBus()
    {
        loomwatch::testing::coreApplication();
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (!m_daemon.waitForStarted(5000) || !m_daemon.waitForReadyRead(5000))
            return;
        const QString address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        client = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "client " + address));
        server = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "server " + address));
    }
    ~PrivateBus()
    {
        for (const auto* connection : {client.get(), server.get()})
            if (connection)
                QDBusConnection::disconnectFromBus(connection->name());
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }

    bool isUp() const { return client && client->isConnected() && server->isConnected(); }
    bool serve(FakeNotificationServer& fake) const
    {
        return server->registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                      QDBusConnection::ExportAllSlots) &&
               server->registerService(QStringLiteral("org.freedesktop.Notifications"));
    }

    std::unique_ptr<QDBusConnection> client;
    std::unique_ptr<QDBusConnection> server;

private:
    QProcess m_daemon;
};
