#include "support/sessionfactory.h"
#include "ui/presentation.h"

#include <gtest/gtest.h>

namespace loomwatch::ui {
namespace {

using model::SessionState;

TEST(TrayTexts, WaitingWinsOverWorkingAndAnErrorOverEverything)
{
    EXPECT_EQ(statusLine(1, 3), "1 waiting");
    EXPECT_EQ(statusLine(0, 3), "3 working");
    // The icon looks at every session, not only the active ones.
    for (const auto& [states, symbol] : std::vector<std::pair<std::vector<SessionState>, const char*>>{
             {{SessionState::waitingForInput, SessionState::errored}, "exclamationmark.triangle.fill"},
             {{SessionState::working, SessionState::waitingForInput}, "person.crop.circle.badge.exclamationmark"},
             {{SessionState::idle, SessionState::working}, "bolt.circle.fill"},
             {{SessionState::idle, SessionState::limited, SessionState::ended}, "circle.dotted"}}) {
        std::vector<model::AgentSession> sessions;
        for (SessionState state : states)
            sessions.push_back(
                testing::makeSession(model::AgentTool::claude, std::to_string(sessions.size()), {}, state));
        EXPECT_EQ(menuBarSymbol(sessions), symbol);
    }
}

TEST(ShortenedProjectName, CountsUserPerceivedCharacters)
{
    // A family emoji (several code points) and "e" with a combining accent are one character each.
    for (const QString& one : {QStringLiteral("a"), QString::fromUtf8("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9"),
                               QString::fromUtf8("e\xCC\x81")}) {
        EXPECT_EQ(shortenedProjectName(one.repeated(30)), one.repeated(30));
        EXPECT_EQ(shortenedProjectName(one.repeated(31)), one.repeated(27) + QChar(0x2026));
    }
}

TEST(PanelPosition, StaysOnScreenBesideTheIcon)
{
    const QRect screen(0, 0, 1280, 800);
    const QSize panel(330, 400);
    // Below an icon in a top bar near the right edge, pushed left; above one in a bottom panel; at
    // the pointer when the icon's place is unknown; at the top when taller than the screen.
    EXPECT_EQ(panelPosition(QRect(1250, 0, 24, 24), {}, panel, screen), QPoint(950, 28));
    EXPECT_EQ(panelPosition(QRect(600, 776, 24, 24), {}, panel, screen), QPoint(446, 372));
    EXPECT_EQ(panelPosition(QRect(), QPoint(5, 5), panel, screen), QPoint(0, 10));
    EXPECT_EQ(panelPosition(QRect(600, 0, 24, 24), {}, QSize(330, 900), screen).y(), 0);
}

} // namespace
} // namespace loomwatch::ui
