#pragma once

#include "model/sessiontypes.h"

#include <QJsonObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace loomwatch::ui {

// "N waiting" wins over "N working"; "Idle" when neither.
QString statusLine(int waitingCount, int workingCount);

// The tray icon's symbol, decided over every session (not only the active ones): an error anywhere,
// then anyone waiting, then anyone working, else the dotted circle.
QString menuBarSymbol(const std::vector<model::AgentSession>& sessions);

// More than 30 user-perceived characters: the first 27 and "…".
QString shortenedProjectName(const QString& projectName);

// A token count in compact form: "980 tokens", "12K tokens", "1.2M tokens"; `spoken` gives what a screen
// reader should say instead ("1.2 million tokens").
QString tokenText(std::int64_t tokens, bool spoken = false);

// The figures line under a session's excerpt. `line` is `model` and `figures` joined by " · " (the model left
// out when the session names none); money as everywhere else, "no price" without an estimate.
struct UsageTexts
{
    QString model;
    QString figures;    // "1.2M tokens · $3.41"
    QString line;       // "claude-sonnet-4-5 · 1.2M tokens · $3.41"
    QString accessible; // "Model claude-sonnet-4-5, 1.2 million tokens, estimated cost $3.41"
};
UsageTexts usageTexts(const model::AgentSession& session);

// Number of user-perceived characters (grapheme clusters).
int graphemeCount(const QString& text);

QString terminationTitle(const QString& projectName);
// A process id of 0 stands for one that vanished meanwhile.
QString terminationMessage(qint64 processId);

// False for a missing, non-string, empty or placeholder "SUPublicEDKey".
bool isUpdateSigningConfigured(const QJsonObject& applicationInfo);

// "Not yet" without a time, else the medium date and time of the user's locale ("Dec 6, 2026, 7:52:24 AM").
QString lastRefreshText(const std::optional<model::Timestamp>& lastRefresh);

// Where the tray panel of `panelSize` goes: centred under an icon in the upper half of the screen,
// above one in the lower half, always inside `available`. An empty icon rectangle stands for the
// pointer position `pointer`.
QPoint panelPosition(QRect iconGeometry, QPoint pointer, QSize panelSize, QRect available);

inline constexpr auto updateSigningPlaceholder = "REPLACE_BEFORE_RELEASE";

} // namespace loomwatch::ui
