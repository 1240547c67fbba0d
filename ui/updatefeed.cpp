#include "ui/updatefeed.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <sodium.h>

namespace loomwatch::ui {

namespace {

std::optional<QByteArray> decodeBase64(const QByteArray& text, qsizetype size)
{
    const auto result = QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!result || result.decoded.size() != size)
        return std::nullopt;
    return result.decoded;
}

QUrl webAddress(const QJsonValue& value)
{
    const QUrl url(value.toString(), QUrl::StrictMode);
    const bool web = url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http");
    return url.isValid() && web && !url.host().isEmpty() ? url : QUrl();
}

} // namespace

UpdateFeedReading readUpdateFeed(const QByteArray& bytes, const QByteArray& signature, const QString& publicKey)
{
    const auto key = decodeBase64(publicKey.toLatin1(), crypto_sign_PUBLICKEYBYTES);
    if (!key || sodium_init() < 0)
        return {std::nullopt, QStringLiteral("The release signing key is not a valid Ed25519 public key.")};
    const auto signatureBytes = decodeBase64(signature, crypto_sign_BYTES);
    if (!signatureBytes ||
        crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signatureBytes->constData()),
                                    reinterpret_cast<const unsigned char*>(bytes.constData()),
                                    static_cast<unsigned long long>(bytes.size()),
                                    reinterpret_cast<const unsigned char*>(key->constData())) != 0)
        return {std::nullopt,
                QStringLiteral("The update information\u2019s signature does not match the release signing key.")};

    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    const QJsonObject object = document.object();
    UpdateFeed feed;
    feed.version = object.value(QStringLiteral("version")).toString();
    feed.date = object.value(QStringLiteral("date")).toString();
    feed.releaseNotesUrl = webAddress(object.value(QStringLiteral("releaseNotesURL")));
    feed.downloadPageUrl = webAddress(object.value(QStringLiteral("downloadPageURL")));
    if (parseError.error != QJsonParseError::NoError || !document.isObject() || feed.downloadPageUrl.isEmpty())
        return {std::nullopt, QStringLiteral("The update information is not a valid release feed.")};
    if (!isVersion(feed.version))
        return {std::nullopt, QStringLiteral("The update information names no valid version (\u201C%1\u201D).")
                                  .arg(feed.version.left(40))};
    return {feed, {}};
}

bool isVersion(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9]{1,9}(\\.[0-9]{1,9}){0,3}$"));
    return pattern.match(text).hasMatch();
}

int compareVersions(const QString& a, const QString& b)
{
    const QStringList left = a.split(QLatin1Char('.'));
    const QStringList right = b.split(QLatin1Char('.'));
    for (qsizetype i = 0; i < std::max(left.size(), right.size()); ++i) {
        const long long l = left.value(i, QStringLiteral("0")).toLongLong();
        const long long r = right.value(i, QStringLiteral("0")).toLongLong();
        if (l != r)
            return l < r ? -1 : 1;
    }
    return 0;
}

} // namespace loomwatch::ui
