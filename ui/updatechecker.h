#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

class QNetworkReply;

namespace loomwatch::ui {

// Fetches a release feed and its signature (the feed's address with ".sig" appended) side by side:
// over HTTPS only (plain HTTP only from a loopback address), refusing a redirect to anything but
// HTTPS, at most 64 KiB each, both within one deadline. Downloads nothing else.
class UpdateChecker : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 maximumSize = 64 * 1024;
    static constexpr int defaultTimeoutMs = 15000;

    explicit UpdateChecker(int timeoutMs = defaultTimeoutMs, QObject* parent = nullptr);
    ~UpdateChecker() override;

    // Ends with exactly one finished(), never inside this call; ignored while a check runs.
    void check(const QUrl& feedUrl);
    bool isChecking() const { return m_checking; }

signals:
    // `error` is empty when `feed` and `signature` hold the two documents; else it is the one line
    // that says why the check failed.
    void finished(const QByteArray& feed, const QByteArray& signature, const QString& error);

private:
    struct Download
    {
        QPointer<QNetworkReply> reply;
        QByteArray data;
        bool done = false;
    };

    void start(Download& download, const QUrl& url);
    void collect(Download& download);
    void onFinished();
    void fail(const QString& error);
    void finish(const QString& error);

    QNetworkAccessManager m_network;
    QTimer m_deadline;
    Download m_feed;
    Download m_signature;
    QString m_failure;
    bool m_checking = false;
};

} // namespace loomwatch::ui
