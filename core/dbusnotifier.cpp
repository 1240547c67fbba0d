#include "core/dbusnotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace loomwatch::core {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

// Servers may read a body as markup; a project named "<b>x</b>" is shown as written.
QString escapedForMarkup(const std::string& text)
{
    QString out = QString::fromStdString(text);
    out.replace(QLatin1Char('&'), QStringLiteral("&amp;"));
    out.replace(QLatin1Char('<'), QStringLiteral("&lt;"));
    out.replace(QLatin1Char('>'), QStringLiteral("&gt;"));
    return out;
}

} // namespace

DBusNotifier::DBusNotifier(QObject* parent) : DBusNotifier(QDBusConnection::sessionBus(), defaultTimeoutMs, parent) {}

DBusNotifier::DBusNotifier(QDBusConnection connection, int timeoutMs, QObject* parent)
    : QObject(parent), m_connection(std::move(connection)), m_timeoutMs(timeoutMs)
{}

DBusNotifier::~DBusNotifier() = default;

void DBusNotifier::finishLater(std::function<void(bool)> done, bool result)
{
    // Always report from the event loop, never from inside the caller's own call.
    QMetaObject::invokeMethod(
        this, [done = std::move(done), result] { done(result); }, Qt::QueuedConnection);
}

void DBusNotifier::post(const NotificationRequest& request, std::function<void(bool delivered)> done)
{
    if (!m_connection.isConnected()) {
        finishLater(std::move(done), false);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, interface, QStringLiteral("Notify"));
    QVariantMap hints;
    if (request.playSound)
        hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    else
        hints.insert(QStringLiteral("suppress-sound"), true);
    const auto known = m_serverIds.find(request.identifier);
    const uint replacesId = known == m_serverIds.end() ? 0U : known->second;
    call << QStringLiteral("Loomwatch") << replacesId << QString() << QString::fromStdString(request.title)
         << escapedForMarkup(request.body) << QStringList() << hints << qint32(-1);

    auto* watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(call, m_timeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, identifier = request.identifier, done = std::move(done)](QDBusPendingCallWatcher* w) {
                QDBusPendingReply<uint> reply = *w;
                w->deleteLater();
                if (reply.isError()) {
                    done(false);
                    return;
                }
                m_serverIds[identifier] = reply.value();
                done(true);
            });
}

void DBusNotifier::checkAvailable(std::function<void(bool available)> done)
{
    if (!m_connection.isConnected()) {
        finishLater(std::move(done), false);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, objectPath, interface, QStringLiteral("GetServerInformation"));
    auto* watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(call, m_timeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [done = std::move(done)](QDBusPendingCallWatcher* w) {
        const bool ok = !w->isError();
        w->deleteLater();
        done(ok);
    });
}

} // namespace loomwatch::core
