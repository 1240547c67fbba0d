#include "support/fakeclock.h"
#include "support/sessionfactory.h"
#include "support/tempdir.h"
#include "ui/presentation.h"

#include <QRegularExpression>
#include <QString>

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
    // A family emoji is several code points but one character: 30 of them stay whole.
    const QString family = QString::fromUtf8("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9");
    EXPECT_EQ(shortenedProjectName(family.repeated(30)), family.repeated(30));
    EXPECT_EQ(shortenedProjectName(family.repeated(31)), family.repeated(27) + QChar(0x2026));
    // Diagnostics: the last refresh in the locale's medium date and time, "Not yet" before the first.
    EXPECT_EQ(lastRefreshText(std::nullopt), "Not yet");
    EXPECT_EQ(lastRefreshText(testing::localTime(2026, 12, 6, 14, 5, 9)), "Dec 6, 2026, 2:05:09\u202FPM");
}

// Every quoted text of the program's sources: what the user can see comes from one of them.
TEST(Wording, NoTextOfTheProgramNamesAnotherPlatform)
{
    const QRegularExpression quoted(QStringLiteral(R"("(?:[^"\\\n]|\\.)*")"));
    const QRegularExpression foreign(
        QStringLiteral(R"(\b(Mac|macOS|OS X|Dock|Sparkle|Developer ID|Finder|Apple|)"
                       R"(Spotlight|Launchpad|Cocoa|Xcode|Info\.plist|iCloud|Windows)\b)"));
    int texts = 0;
    for (const char* folder : {"ui", "core", "cli"}) {
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(std::string(LOOMWATCH_SOURCE_DIR "/") + folder)) {
            const std::string extension = entry.path().extension().string();
            if (extension != ".qml" && extension != ".cpp" && extension != ".h")
                continue;
            const QString source = QString::fromStdString(testing::readFile(entry.path()));
            for (auto match = quoted.globalMatch(source); match.hasNext(); ++texts) {
                const QString text = match.next().captured();
                EXPECT_FALSE(foreign.match(text).hasMatch()) << entry.path() << ": " << text.toStdString();
            }
        }
    }
    EXPECT_GT(texts, 500);
}

} // namespace
} // namespace loomwatch::ui
