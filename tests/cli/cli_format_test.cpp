#include "cli/commands.h"
#include "cli/jsonwriter.h"
#include "cli/terminaltable.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace loomwatch;

TEST(CliFormat, JsonStringsAreAlwaysValidUtf8AndEscaped)
{
    EXPECT_EQ(cli::jsonQuoted("a\"b\\c\n\t\x01"), R"("a\"b\\c\n\t\u0001")");
    EXPECT_EQ(cli::jsonQuoted("caf\xC3\xA9 \xF0\x9F\x98\x80"), "\"caf\xC3\xA9 \xF0\x9F\x98\x80\"");
    // A lone continuation byte, a truncated sequence (one replacement for its maximal subpart), an
    // overlong form and a surrogate.
    EXPECT_EQ(cli::jsonQuoted("\x80x\xE2\x82"), "\"\xEF\xBF\xBDx\xEF\xBF\xBD\"");
    EXPECT_EQ(cli::jsonQuoted("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(cli::jsonQuoted("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

TEST(CliFormat, SessionJsonHasExactlyTheDocumentedShape)
{
    model::AgentSession s;
    s.id = "cursor:process:501";
    s.tool = model::AgentTool::cursor;
    s.projectName = "Cursor Agent";
    s.state = model::SessionState::limited;
    s.supportLevel = model::SupportLevel::processOnly;
    s.processID = 501;
    s.estimatedCost = model::Decimal::fromString("12.50");
    s.startedAt = s.lastActivityAt = model::Timestamp(std::chrono::milliseconds(1'765'000'000'123));
    EXPECT_EQ(cli::sessionsJson({s}),
              R"([{"id":"cursor:process:501","tool":"cursor","projectPath":null,"projectName":"Cursor Agent",)"
              R"("branch":null,"model":null,"startedAt":"2025-12-06T05:46:40.123Z",)"
              R"("lastActivityAt":"2025-12-06T05:46:40.123Z","processID":501,"state":"limited",)"
              R"("supportLevel":"processOnly","tokens":{"input":0,"output":0,"cacheRead":0,"cacheWrite":0},)"
              R"("estimatedCost":"12.5","lastSnippet":null,"parserVersion":1,"sourcePath":null}])");
    EXPECT_EQ(cli::sessionsJson({}), "[]");
}

TEST(CliFormat, TableFitsEightyColumnsWhateverTheNames)
{
    model::AgentSession s;
    s.id = "claude:x";
    s.projectName = "an-extraordinarily-long-project-name-that-goes-on-and-on";
    s.branch = "feature/\xC3\xBC"
               "bersetzung-of-everything-in-the-world";
    s.state = model::SessionState::waitingForInput;
    s.estimatedCost = model::Decimal::fromString("123456.789");
    const auto now = std::chrono::system_clock::now();
    s.lastActivityAt = now - std::chrono::hours(30);
    std::istringstream lines(cli::sessionsTable({s, s}, now));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        EXPECT_LE(cli::characterCount(line), 79u) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos);
    }
    EXPECT_EQ(count, 3);
    EXPECT_EQ(cli::fitToWidth("\xC3\xBC\xC3\xBC\xC3\xBC", 2), "\xC3\xBC\xE2\x80\xA6");
    EXPECT_EQ(cli::fitToWidth("abc", 3), "abc");
}
