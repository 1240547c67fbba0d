#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace loomwatch::ui {

// A release feed: a small JSON document, published beside a detached Ed25519 signature of its exact
// bytes (the feed's address with ".sig" appended, base64):
//   {"version": "0.2.0", "date": "2026-12-01", "releaseNotesURL": "https://...", "downloadPageURL": "https://..."}
struct UpdateFeed
{
    QString version;
    QString date;
    QUrl releaseNotesUrl;
    QUrl downloadPageUrl;
};

struct UpdateFeedReading
{
    std::optional<UpdateFeed> feed;
    // Why there is no feed, in one line.
    QString error;
};

// The feed, when `signature` (base64) signs exactly `bytes` with `publicKey` (base64) and the bytes
// hold a well-formed feed. Nothing of the bytes is read before the signature holds.
UpdateFeedReading readUpdateFeed(const QByteArray& bytes, const QByteArray& signature, const QString& publicKey);

// "1" to "1.2.3.4": up to four numbers of at most nine digits, dot-separated.
bool isVersion(const QString& text);
// Negative, zero or positive as version `a` is older than, the same as or newer than `b`; a missing
// part counts as 0 ("1.2" is "1.2.0").
int compareVersions(const QString& a, const QString& b);

} // namespace loomwatch::ui
