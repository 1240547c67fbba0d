#pragma once

#include "model/sessiontypes.h"

#include <QJsonObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

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
