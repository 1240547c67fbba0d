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
    QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("loomwatch")},
                      // Servers read the urgency only as a byte; 1 is "normal".
                      {QStringLiteral("urgency"), QVariant::fromValue<uchar>(1)}};
    if (request.playSound)
        hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    else
        hints.insert(QStringLiteral("suppress-sound"), true);
    const auto known = m_serverIds.find(request.identifier);
    const uint replacesId = known == m_serverIds.end() ? 0U : known->second;
    // "default" is the click on the notification itself; servers that show actions as buttons
    // label it with the second string.
    const QStringList actions{QStringLiteral("default"), QStringLiteral("Show in Loomwatch")};
    call << QStringLiteral("Loomwatch") << replacesId << QStringLiteral("loomwatch")
         << QString::fromStdString(request.title) << escapedForMarkup(request.body) << actions << hints << qint32(-1);

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

void DBusNotifier::setActivationHandler(std::function<void(const std::string& identifier)> handler)
{
    m_activationHandler = std::move(handler);
    if (!m_listening && m_connection.isConnected())
        m_listening = m_connection.connect(service, objectPath, interface, QStringLiteral("ActionInvoked"), this,
                                           SLOT(onActionInvoked(uint, QString)));
}

void DBusNotifier::onActionInvoked(uint id, const QString& actionKey)
{
    if (actionKey != QLatin1String("default") || !m_activationHandler)
        return;
    for (const auto& [identifier, serverId] : m_serverIds) {
        if (serverId == id) {
            m_activationHandler(identifier);
            return;
        }
    }
}

} // namespace loomwatch::core
