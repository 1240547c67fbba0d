#include "ui/updatechecker.h"

#include <QHostAddress>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace loomwatch::ui {

namespace {

bool isSecure(const QUrl& url)
{
    if (url.scheme() == QLatin1String("https"))
        return true;
    const QString host = url.host();
    return url.scheme() == QLatin1String("http") &&
           (host == QLatin1String("localhost") || QHostAddress(host).isLoopback());
}

QUrl signatureUrl(QUrl feedUrl)
{
    feedUrl.setPath(feedUrl.path() + QStringLiteral(".sig"));
    return feedUrl;
}

} // namespace

UpdateChecker::UpdateChecker(int timeoutMs, QObject* parent) : QObject(parent)
{
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(timeoutMs);
    connect(&m_deadline, &QTimer::timeout, this, [this] { fail(QStringLiteral("The update check timed out.")); });
}

UpdateChecker::~UpdateChecker()
{
    for (Download* download : {&m_feed, &m_signature})
        if (download->reply)
            download->reply->abort();
}

void UpdateChecker::check(const QUrl& feedUrl)
{
    if (m_checking)
        return;
    m_checking = true;
    m_failure.clear();
    if (!feedUrl.isValid() || !isSecure(feedUrl)) {
        QMetaObject::invokeMethod(
            this, [this] { finish(QStringLiteral("The update address is not an https address.")); },
            Qt::QueuedConnection);
        return;
    }
    m_deadline.start();
    start(m_feed, feedUrl);
    start(m_signature, signatureUrl(feedUrl));
}

void UpdateChecker::start(Download& download, const QUrl& url)
{
    download = Download{};
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    QNetworkReply* reply = m_network.get(request);
    download.reply = reply;
    connect(reply, &QNetworkReply::redirected, this, [this, reply](const QUrl& target) {
        if (target.scheme() == QLatin1String("https"))
            emit reply->redirectAllowed();
        else
            fail(QStringLiteral("The update server redirected to an address that is not https."));
    });
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        if (reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > maximumSize)
            fail(QStringLiteral("The update information is larger than 64 KiB."));
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, &download] { collect(download); });
    connect(reply, &QNetworkReply::finished, this, &UpdateChecker::onFinished);
}

void UpdateChecker::collect(Download& download)
{
    if (!download.reply)
        return;
    download.data += download.reply->readAll();
    if (download.data.size() > maximumSize)
        fail(QStringLiteral("The update information is larger than 64 KiB."));
}

void UpdateChecker::onFinished()
{
    if (!m_checking)
        return;
    for (Download* download : {&m_feed, &m_signature}) {
        if (!download->reply || download->done || !download->reply->isFinished())
            continue;
        collect(*download);
        download->done = true;
    }
    if (!m_failure.isEmpty()) {
        finish(m_failure);
        return;
    }
    for (Download* download : {&m_feed, &m_signature}) {
        if (!download->done || download->reply->error() == QNetworkReply::NoError)
            continue;
        if (download == &m_signature && download->reply->error() == QNetworkReply::ContentNotFoundError)
            fail(QStringLiteral("The update information has no signature."));
        else
            fail(QStringLiteral("Could not reach the update server: ") + download->reply->errorString());
        return;
    }
    if (m_feed.done && m_signature.done)
        finish({});
}

// The first failure wins; aborting the downloads brings their finished() and so finish().
void UpdateChecker::fail(const QString& error)
{
    if (!m_checking)
        return;
    if (m_failure.isEmpty())
        m_failure = error;
    for (Download* download : {&m_feed, &m_signature})
        if (download->reply && !download->reply->isFinished())
            download->reply->abort();
    onFinished();
}

void UpdateChecker::finish(const QString& error)
{
    if (!m_checking)
        return;
    m_checking = false;
    m_deadline.stop();
    const QByteArray feed = error.isEmpty() ? m_feed.data : QByteArray();
    const QByteArray signature = error.isEmpty() ? m_signature.data : QByteArray();
    for (Download* download : {&m_feed, &m_signature}) {
        if (download->reply) {
            download->reply->disconnect(this);
            download->reply->deleteLater();
        }
        *download = Download{};
    }
    emit finished(feed, signature, error);
}

} // namespace loomwatch::ui
