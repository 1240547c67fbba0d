#pragma once

#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <vector>

// org.freedesktop.Notifications as a test double: records every Notify call and answers with a
// fresh id, or, when `silent` is set, never answers at all.
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
    };

    std::vector<Call> calls;
    bool silent = false;

public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int expireTimeout)
    {
        calls.push_back({appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout});
        if (silent) {
            setDelayedReply(true);
            m_unanswered.push_back(message());
            return 0;
        }
        return replacesId != 0 ? replacesId : ++m_lastId;
    }

    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion)
    {
        vendor = QStringLiteral("test");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("fake");
    }

private:
    uint m_lastId = 100;
    std::vector<QDBusMessage> m_unanswered;
};
