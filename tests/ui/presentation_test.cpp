#include "support/sessionfactory.h"
#include "ui/presentation.h"

#include <gtest/gtest.h>

namespace loomwatch::ui {
namespace {

using model::AgentTool;
using model::SessionState;

std::vector<model::AgentSession> withStates(std::initializer_list<SessionState> states)
{
    std::vector<model::AgentSession> sessions;
    int n = 0;
    for (SessionState state : states)
        sessions.push_back(testing::makeSession(AgentTool::claude, std::to_string(n++), {}, state));
    return sessions;
}

TEST(StatusLine, WaitingWinsOverWorkingAndIdleIsTheRest)
{
    EXPECT_EQ(statusLine(1, 3), "1 waiting");
    EXPECT_EQ(statusLine(0, 3), "3 working");
    EXPECT_EQ(statusLine(0, 0), "Idle");
}

TEST(MenuBarSymbol, FollowsErrorThenWaitingThenWorkingOverAllSessions)
{
    EXPECT_EQ(menuBarSymbol(withStates({SessionState::waitingForInput, SessionState::errored})),
              "exclamationmark.triangle.fill");
    // An errored session is not active, yet still decides the icon.
    EXPECT_EQ(menuBarSymbol(withStates({SessionState::errored, SessionState::ended})), "exclamationmark.triangle.fill");
    EXPECT_EQ(menuBarSymbol(withStates({SessionState::working, SessionState::waitingForInput})),
              "person.crop.circle.badge.exclamationmark");
    EXPECT_EQ(menuBarSymbol(withStates({SessionState::idle, SessionState::working})), "bolt.circle.fill");
    EXPECT_EQ(menuBarSymbol(withStates({SessionState::idle, SessionState::limited})), "circle.dotted");
    EXPECT_EQ(menuBarSymbol({}), "circle.dotted");
}

TEST(ShortenedProjectName, CountsUserPerceivedCharacters)
{
    const QString thirty(30, QLatin1Char('a'));
    EXPECT_EQ(shortenedProjectName(thirty), thirty);
    EXPECT_EQ(shortenedProjectName(thirty + "b"), QString(27, QLatin1Char('a')) + QChar(0x2026));

    // 30 family emoji are 30 characters although each is several code points.
    const QString family =
        QString::fromUtf8("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7");
    EXPECT_EQ(graphemeCount(family), 1);
    EXPECT_EQ(shortenedProjectName(family.repeated(30)), family.repeated(30));
    // 31 of them: 27 whole emoji, never a broken one, then the ellipsis.
    EXPECT_EQ(shortenedProjectName(family.repeated(31)), family.repeated(27) + QChar(0x2026));

    // "e" + combining acute is one character.
    const QString accented = QString::fromUtf8("e\xCC\x81");
    EXPECT_EQ(shortenedProjectName(accented.repeated(30)), accented.repeated(30));
}

TEST(UpdateSigning, NeedsARealKeyString)
{
    const auto info = [](QJsonValue key) {
        return QJsonObject{{"SUPublicEDKey", key}};
    };
    EXPECT_FALSE(isUpdateSigningConfigured(QJsonObject{}));
    for (const QJsonValue& key :
         {QJsonValue(42), QJsonValue(QJsonValue::Null), QJsonValue(""), QJsonValue("REPLACE_BEFORE_RELEASE")})
        EXPECT_FALSE(isUpdateSigningConfigured(info(key)));
    // Only the exact placeholder counts as one.
    EXPECT_TRUE(isUpdateSigningConfigured(info(" REPLACE_BEFORE_RELEASE")));
}

TEST(PanelPosition, StaysOnScreenBesideTheIcon)
{
    const QRect screen(0, 0, 1280, 800);
    const QSize panel(330, 400);
    // Icon in a top bar near the right edge: below it, pushed left to fit.
    EXPECT_EQ(panelPosition(QRect(1250, 0, 24, 24), {}, panel, screen), QPoint(950, 28));
    // Icon in a bottom panel: above it.
    EXPECT_EQ(panelPosition(QRect(600, 776, 24, 24), {}, panel, screen), QPoint(446, 372));
    // Unknown icon geometry: at the pointer, inside the screen.
    EXPECT_EQ(panelPosition(QRect(), QPoint(5, 5), panel, screen), QPoint(0, 10));
    // A panel taller than the screen starts at its top.
    EXPECT_EQ(panelPosition(QRect(600, 0, 24, 24), {}, QSize(330, 900), screen).y(), 0);
}

} // namespace
} // namespace loomwatch::ui
