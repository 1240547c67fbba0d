#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QtQmlIntegration>

#include <memory>

namespace loomwatch::core {
class Notifier;
}

namespace loomwatch::ui {

class UpdateChecker;

// Update checks against the signed release feed named in the application info ("SUFeedURL", signed
// with "SUPublicEDKey"). Tells the user about a newer version and links its download page; downloads
// and installs nothing. Inert unless the application info carries a real signing key.
class Updater : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Handed out by the application")
    Q_PROPERTY(bool signingConfigured READ isSigningConfigured CONSTANT)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
                   setAutomaticallyChecksForUpdates NOTIFY automaticallyChecksForUpdatesChanged)
    Q_PROPERTY(bool checking READ isChecking NOTIFY statusChanged)
    // The outcome of the last check asked for by the user (or of an automatic one that found a newer
    // version), in one line; empty before there is one.
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    // The newer version the last successful check found, and its download page; empty when it found none.
    Q_PROPERTY(QString newerVersion READ newerVersion NOTIFY statusChanged)
    Q_PROPERTY(QUrl downloadPageUrl READ downloadPageUrl NOTIFY statusChanged)

public:
    struct Options
    {
        QJsonObject applicationInfo{};
        // Where the automatic-check choice and the time of the last check are kept (empty: nowhere);
        // written only when they change.
        QString settingsFile{};
        // This build's version, compared with the feed's.
        QString currentVersion{};
        // Tells about a newer version found by an automatic check; may be null.
        std::shared_ptr<core::Notifier> notifier{};
        int timeoutMs = 15000;
    };

    explicit Updater(Options options, QObject* parent = nullptr);
    ~Updater() override;

    // The compiled-in application info (":/loomwatch/Info.json"); empty when it does not parse.
    static QJsonObject bundledApplicationInfo();

    bool isSigningConfigured() const { return m_signingConfigured; }
    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool enabled);
    bool isChecking() const;
    QString status() const { return m_status; }
    QString newerVersion() const { return m_newerVersion; }
    QUrl downloadPageUrl() const { return m_downloadPageUrl; }

    Q_INVOKABLE void checkForUpdates();
    // From now on, while automatic checks are on: a quiet check whenever the last one is a day old.
    void startAutomaticChecks();

signals:
    void automaticallyChecksForUpdatesChanged();
    void statusChanged();

private:
    void checkIfDue();
    void check(bool quiet);
    void onChecked(const QByteArray& feed, const QByteArray& signature, const QString& error);

    Options m_options;
    bool m_signingConfigured;
    UpdateChecker* m_checker;
    QTimer m_schedule;
    bool m_quiet = false;
    QString m_status;
    QString m_newerVersion;
    QUrl m_downloadPageUrl;
};

} // namespace loomwatch::ui
