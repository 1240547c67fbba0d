#include "ui/presentation.h"

#include "pricing/currencyformatter.h"

#include <QDateTime>
#include <QLocale>
#include <QTextBoundaryFinder>

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/numberformatter.h>

#include <algorithm>
#include <memory>

namespace loomwatch::ui {

QString statusLine(int waitingCount, int workingCount)
{
    if (waitingCount > 0)
        return QString::number(waitingCount) + QStringLiteral(" waiting");
    if (workingCount > 0)
        return QString::number(workingCount) + QStringLiteral(" working");
    return QStringLiteral("Idle");
}

QString menuBarSymbol(const std::vector<model::AgentSession>& sessions)
{
    const auto any = [&](model::SessionState state) {
        return std::any_of(sessions.begin(), sessions.end(),
                           [state](const model::AgentSession& s) { return s.state == state; });
    };
    if (any(model::SessionState::errored))
        return QStringLiteral("exclamationmark.triangle.fill");
    if (any(model::SessionState::waitingForInput))
        return QStringLiteral("person.crop.circle.badge.exclamationmark");
    if (any(model::SessionState::working))
        return QStringLiteral("bolt.circle.fill");
    return QStringLiteral("circle.dotted");
}

namespace {

// Code-unit offset just past the first `clusters` grapheme clusters (or the text's length).
qsizetype graphemePrefixLength(const QString& text, int clusters)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (int i = 0; i < clusters; ++i) {
        end = finder.toNextBoundary();
        if (end < 0)
            return text.size();
    }
    return end;
}

} // namespace

QString tokenText(std::int64_t tokens, bool spoken)
{
    const QString unit = tokens == 1 ? QStringLiteral(" token") : QStringLiteral(" tokens");
    UErrorCode status = U_ZERO_ERROR;
    // Two significant digits from a thousand up, as ICU's compact notation rounds: "1.2M", "12K", "123K".
    const icu::UnicodeString text =
        icu::number::NumberFormatter::withLocale(icu::Locale::getDefault())
            .notation(spoken ? icu::number::Notation::compactLong() : icu::number::Notation::compactShort())
            .formatInt(tokens, status)
            .toString(status);
    if (U_FAILURE(status))
        return QString::number(tokens) + unit;
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length()) + unit;
}

UsageTexts usageTexts(const model::AgentSession& session)
{
    const model::TokenUsage& t = session.tokens;
    const std::int64_t tokens = t.input + t.output + t.cacheRead + t.cacheWrite;
    const QString separator = QStringLiteral(" \u00B7 ");
    UsageTexts texts;
    // Sessions whose agent writes no token figures (Cursor, or one known only by its process) show none.
    if (tokens != 0 || session.estimatedCost) {
        const QString cost =
            session.estimatedCost ? QString::fromStdString(pricing::formatUsd(*session.estimatedCost)) : QString();
        texts.figures = tokenText(tokens) + separator + (cost.isEmpty() ? QStringLiteral("no price") : cost);
        texts.accessible = tokenText(tokens, true) + QStringLiteral(", ") +
                           (cost.isEmpty() ? QStringLiteral("no price") : QStringLiteral("estimated cost ") + cost);
    }
    texts.line = texts.figures;
    if (session.model) {
        texts.model = QString::fromStdString(*session.model);
        texts.line = texts.figures.isEmpty() ? texts.model : texts.model + separator + texts.figures;
        texts.accessible = QStringLiteral("Model ") + texts.model +
                           (texts.figures.isEmpty() ? QString() : QStringLiteral(", ") + texts.accessible);
    }
    return texts;
}

int graphemeCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() >= 0)
        ++count;
    return count;
}

QString shortenedProjectName(const QString& projectName)
{
    // At most 30 UTF-16 code units cannot hold more than 30 clusters: skip the boundary search.
    if (projectName.size() <= 30)
        return projectName;
    if (graphemeCount(projectName) <= 30)
        return projectName;
    return projectName.left(graphemePrefixLength(projectName, 27)) + QChar(0x2026);
}

QString terminationTitle(const QString& projectName)
{
    return QStringLiteral("Terminate ") + projectName + QLatin1Char('?');
}

QString terminationMessage(qint64 processId)
{
    return QStringLiteral("Loomwatch will send SIGTERM to process ") + QString::number(processId) +
           QStringLiteral(". Unsaved agent work may be lost.");
}

bool isUpdateSigningConfigured(const QJsonObject& applicationInfo)
{
    const QJsonValue key = applicationInfo.value(QStringLiteral("SUPublicEDKey"));
    if (!key.isString())
        return false;
    const QString text = key.toString();
    return !text.isEmpty() && text != QLatin1String(updateSigningPlaceholder);
}

QString lastRefreshText(const std::optional<model::Timestamp>& lastRefresh)
{
    if (!lastRefresh)
        return QStringLiteral("Not yet");
    const std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateTimeInstance(
        icu::DateFormat::kMedium, icu::DateFormat::kMedium, icu::Locale::getDefault()));
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(lastRefresh->time_since_epoch());
    if (!format) {
        return QLocale().toString(QDateTime::fromMSecsSinceEpoch(millis.count()), QLocale::ShortFormat);
    }
    icu::UnicodeString text;
    format->format(static_cast<UDate>(millis.count()), text);
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

QPoint panelPosition(QRect iconGeometry, QPoint pointer, QSize panelSize, QRect available)
{
    const QRect anchor = iconGeometry.isValid() && !iconGeometry.isEmpty() ? iconGeometry : QRect(pointer, QSize(1, 1));
    const int gap = 4;
    int x = anchor.center().x() - panelSize.width() / 2;
    int y = anchor.center().y() < available.center().y() ? anchor.bottom() + 1 + gap
                                                         : anchor.top() - gap - panelSize.height();
    x = std::clamp(x, available.left(), std::max(available.left(), available.right() + 1 - panelSize.width()));
    y = std::clamp(y, available.top(), std::max(available.top(), available.bottom() + 1 - panelSize.height()));
    return {x, y};
}

} // namespace loomwatch::ui
