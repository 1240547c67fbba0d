#pragma once

#include "core/notifier.h"

#include <QDBusConnection>
#include <QObject>

#include <map>

namespace loomwatch::core {

// Notifications through org.freedesktop.Notifications on a D-Bus connection. Never blocks the
// calling thread: each call is asynchronous with a bounded timeout, and a missing bus, a missing
// server, an error reply or a timeout all count as "not delivered". Every notification carries the
// application's icon and desktop entry and a default action; the server tells only the connection
// that posted a notification when it is clicked. Use from one thread.
class DBusNotifier : public QObject, public Notifier
{
    Q_OBJECT

public:
    static constexpr int defaultTimeoutMs = 3000;

    explicit DBusNotifier(QObject* parent = nullptr);
    DBusNotifier(QDBusConnection connection, int timeoutMs, QObject* parent = nullptr);
    ~DBusNotifier() override;

    void post(const NotificationRequest& request, std::function<void(bool delivered)> done) override;
    void checkAvailable(std::function<void(bool available)> done) override;
    void setActivationHandler(std::function<void(const std::string& identifier)> handler) override;

private slots:
    void onActionInvoked(uint id, const QString& actionKey);

private:
    void finishLater(std::function<void(bool)> done, bool result);

    QDBusConnection m_connection;
    int m_timeoutMs;
    // Server ids of earlier posts, so that a repeated identifier replaces its notification.
    std::map<std::string, uint> m_serverIds;
    std::function<void(const std::string&)> m_activationHandler;
    bool m_listening = false;
};

} // namespace loomwatch::core
