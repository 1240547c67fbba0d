#include "cli/jsonwriter.h"
#include "cli/sessiontable.h"
#include "cli/terminaltable.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace loomwatch;

TEST(CliFormat, JsonStringsAreAlwaysValidUtf8AndEscaped)
{
    EXPECT_EQ(cli::jsonQuoted("a\"b\\c\n\t\x01"), R"("a\"b\\c\n\t\u0001")");
    EXPECT_EQ(cli::jsonQuoted("caf\xC3\xA9 \xF0\x9F\x98\x80"), "\"caf\xC3\xA9 \xF0\x9F\x98\x80\"");
    // A lone continuation byte, a truncated sequence, an overlong form and a surrogate.
    EXPECT_EQ(cli::jsonQuoted("\x80x\xE2\x82"), "\"\xEF\xBF\xBDx\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(cli::jsonQuoted("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(cli::jsonQuoted("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
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
