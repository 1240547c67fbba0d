#include "support/sessionfactory.h"
#include "support/tempdir.h"
#include "ui/presentation.h"
#include "ui/weekchart.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace loomwatch::ui {
namespace {

using model::SessionState;

TEST(TrayTexts, WaitingWinsOverWorkingAndAnErrorOverEverything)
{
    EXPECT_EQ(statusLine(0, 3), "3 working");
    // The icon looks at every session, not only the active ones.
    for (const auto& [states, symbol] : std::vector<std::pair<std::vector<SessionState>, const char*>>{
             {{SessionState::waitingForInput, SessionState::errored}, "exclamationmark.triangle.fill"},
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
}

TEST(SessionFigures, TokensInCompactFormAndEveryFigureNamedForScreenReaders)
{
    for (const auto& [tokens, shown, spoken] :
         std::vector<std::tuple<std::int64_t, QString, QString>>{{1, "1 token", "1 token"},
                                                                 {980, "980 tokens", "980 tokens"},
                                                                 {12'345, "12K tokens", "12 thousand tokens"},
                                                                 {1'234'567, "1.2M tokens", "1.2 million tokens"},
                                                                 {2'500'000'000, "2.5B tokens", "2.5 billion tokens"}})
        EXPECT_EQ(tokenText(tokens) + " / " + tokenText(tokens, true), shown + " / " + spoken);
    auto s = testing::makeSession(model::AgentTool::claude, "a", {});
    s.tokens = {200'000, 34'567, 1'000'000, 0};
    s.estimatedCost = model::Decimal::fromString("3.409");
    const UsageTexts priced = usageTexts(s);
    s.model.reset();
    s.estimatedCost.reset();
    const UsageTexts bare = usageTexts(s);
    // An agent that writes no token figures (Cursor): no "0 tokens", only the model.
    auto cursor = testing::makeSession(model::AgentTool::cursor, "c", {});
    cursor.tokens = {};
    const UsageTexts unknown = usageTexts(cursor);
    EXPECT_EQ((QStringList{priced.line, priced.accessible, bare.model, bare.line, bare.accessible, unknown.line,
                           unknown.accessible}),
              (QStringList{"claude-sonnet-4-5-20250929 \u00B7 1.2M tokens \u00B7 $3.41",
                           "Model claude-sonnet-4-5-20250929, 1.2 million tokens, estimated cost $3.41", "",
                           "1.2M tokens \u00B7 no price", "1.2 million tokens, no price", "claude-sonnet-4-5-20250929",
                           "Model claude-sonnet-4-5-20250929"}));
}

TEST(WeekChart, DaysStackTheirToolsAgainstTheWeeksLargestDay)
{
    using namespace std::chrono;
    std::vector<core::DayCost> week;
    for (int i = 0; i < 7; ++i)
        week.push_back({sys_days(2026y / November / 30) + days(i), {}});
    week[1].tools = {3, *model::Decimal::fromString("1.12"), 0, 0};
    week[6].tools[1] = *model::Decimal::fromString("8.24");
    const QVariantList chart = weekChart(week);
    ASSERT_EQ(chart.size(), 7);
    const QVariantMap monday = chart[0].toMap(), tuesday = chart[1].toMap();
    EXPECT_EQ(
        (QStringList{monday["accessibleName"].toString(), tuesday["weekday"].toString(), tuesday["date"].toString(),
                     tuesday["total"].toString(), tuesday["accessibleName"].toString()}),
        (QStringList{"Monday, November 30: $0.00", "Tue", "Dec 1", "$4.12",
                     "Tuesday, December 1: $4.12, Claude Code $3.00, Codex $1.12"}));
    EXPECT_TRUE(monday["segments"].toList().isEmpty());
    EXPECT_EQ(chart[6].toMap()["segments"].toList().value(0).toMap()["share"], 1.0);
    // Stacked from the bottom in tool order, each segment where the one before ends, up to the day's share.
    const QVariantList segments = tuesday["segments"].toList();
    ASSERT_EQ(segments.size(), 2);
    const QVariantMap claude = segments[0].toMap(), codex = segments[1].toMap();
    EXPECT_EQ(claude["tool"].toString() + " " + codex["tool"].toString(), "claude codex");
    EXPECT_EQ(claude["below"], 0.0);
    EXPECT_DOUBLE_EQ(codex["below"].toDouble(), claude["share"].toDouble());
    EXPECT_NEAR(codex["below"].toDouble() + codex["share"].toDouble(), 0.5, 1e-9);
}

// Every quoted text of the program's sources: what the user can see comes from one of them.
TEST(Wording, NoTextOfTheProgramNamesAnotherPlatform)
{
    const QRegularExpression quoted(QStringLiteral(R"("(?:[^"\\\n]|\\.)*")"));
    const QRegularExpression foreign(
        QStringLiteral(R"(\b(Mac|macOS|OS X|Dock|Sparkle|Developer ID|Finder|Apple|)"
                       R"(Spotlight|Launchpad|Cocoa|Xcode|Info\.plist|iCloud|Windows)\b)"));
    int texts = 0;
    for (const char* folder : {"/ui", "/core", "/cli"})
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(LOOMWATCH_SOURCE_DIR + std::string(folder)))
            if (const auto extension = entry.path().extension();
                extension == ".qml" || extension == ".cpp" || extension == ".h")
                for (auto match = quoted.globalMatch(QString::fromStdString(testing::readFile(entry.path())));
                     match.hasNext(); ++texts) {
                    const QString text = match.next().captured();
                    EXPECT_FALSE(foreign.match(text).hasMatch()) << entry.path() << ": " << text.toStdString();
                }
    EXPECT_GT(texts, 500);
}

} // namespace
} // namespace loomwatch::ui
