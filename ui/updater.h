#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QtQmlIntegration>

namespace loomwatch::ui {

// Update checks. Downloads and installs nothing; it is started only when the application info
// carries a real signing key, and otherwise stays inert.
class Updater : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Handed out by the application")
    Q_PROPERTY(bool signingConfigured READ isSigningConfigured CONSTANT)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
                   setAutomaticallyChecksForUpdates NOTIFY automaticallyChecksForUpdatesChanged)

public:
    // The automatic-check choice lives in the settings file `settingsFile` (empty: not kept); it
    // is only written when the user changes it.
    Updater(const QJsonObject& applicationInfo, QString settingsFile, QObject* parent = nullptr);

    // The compiled-in application info (":/loomwatch/Info.json"); empty when it does not parse.
    static QJsonObject bundledApplicationInfo();

    bool isSigningConfigured() const { return m_signingConfigured; }
    bool isStarted() const { return m_started; }
    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool enabled);
    Q_INVOKABLE void checkForUpdates();

signals:
    void automaticallyChecksForUpdatesChanged();
    void checkRequested();

private:
    bool m_signingConfigured;
    bool m_started;
    QString m_settingsFile;
};

} // namespace loomwatch::ui
