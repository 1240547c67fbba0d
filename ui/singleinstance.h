#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

namespace loomwatch::ui {

// The one running Loomwatch of a session: it owns io.github.loomwatch.Loomwatch on the session bus
// and serves org.freedesktop.Application at /io/github/loomwatch/Loomwatch, through which a second
// launch, a click on a notification posted by `loomwatch-cli watch --notify`, or the desktop reach it.
class SingleInstance : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    enum class Claim
    {
        // This process owns the name: run.
        owned,
        // No session bus: run, as the only instance there can be known.
        noBus,
        // Another instance owns the name and was asked to show its dashboard: exit.
        activatedOther,
        // Another process owns the name but did not answer in time (or refused): exit, rather than
        // risk a second tray icon; message() says who.
        ownerDoesNotAnswer,
    };

    static constexpr int defaultTimeoutMs = 8000;

    explicit SingleInstance(QDBusConnection bus = QDBusConnection::sessionBus(), int timeoutMs = defaultTimeoutMs,
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // Exports the interface, then asks for the name (so that the first call finds the object).
    // Calls arrive from the event loop only, after the caller has connected the signals.
    Claim claim();
    QString message() const { return m_message; }

public slots:
    void Activate(const QVariantMap& platformData);
    void Open(const QStringList& uris, const QVariantMap& platformData);
    void ActivateAction(const QString& name, const QVariantList& parameter, const QVariantMap& platformData);

signals:
    void activated();
    // `parameter` is the first string of the action's parameters, empty when there is none.
    void actionActivated(const QString& name, const QString& parameter);

private:
    QDBusConnection m_bus;
    int m_timeoutMs;
    bool m_exported = false;
    QString m_message;
};

} // namespace loomwatch::ui
