// The text the commands print, from values: JSON strings, terminal widths, the sessions table, the
// short ids and the filters.
#include "cli/commands.h"
#include "cli/displaywidth.h"
#include "cli/jsonwriter.h"
#include "cli/sessionfilter.h"
#include "cli/sessionids.h"
#include "cli/sessiontable.h"
#include "support/sessionfactory.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace loomwatch;
using model::SessionState;
using Ids = std::vector<std::string>;

// A session with the id "<tool>:<local id>".
static model::AgentSession session(const std::string& id, SessionState state = SessionState::ended,
                                   std::string project = {})
{
    const auto colon = id.find(':');
    auto s = loomwatch::testing::makeSession(*model::agentToolFromRaw(id.substr(0, colon)), id.substr(colon + 1),
                                             std::chrono::system_clock::now(), state);
    s.projectName = std::move(project);
    return s;
}

TEST(CliFormat, JsonStringsAreAlwaysValidUtf8AndEscaped)
{
    EXPECT_EQ(cli::jsonQuoted("a\"b\\c\n\t\x01"), R"("a\"b\\c\n\t\u0001")");
    EXPECT_EQ(cli::jsonQuoted("caf\xC3\xA9 \xF0\x9F\x98\x80"), "\"caf\xC3\xA9 \xF0\x9F\x98\x80\"");
    // A lone continuation byte, a truncated sequence, an overlong form and a surrogate.
    EXPECT_EQ(cli::jsonQuoted("\x80x\xE2\x82"), "\"\xEF\xBF\xBDx\xEF\xBF\xBD\"");
    EXPECT_EQ(cli::jsonQuoted("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(cli::jsonQuoted("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

TEST(CliFormat, DisplayWidthCountsWhatATerminalDraws)
{
    for (const auto& [text, width] : std::vector<std::pair<std::string, std::size_t>>{
             {"api-server", 10},
             {"数据管道", 8},                   // CJK: wide
             {"ｆｕｌｌ", 8},                   // fullwidth forms
             {"cafe\u0301", 4},                 // a combining accent takes no column
             {"\U0001F469\u200D\U0001F4BB", 2}, // a ZWJ sequence is one emoji
             {"\U0001F44D\U0001F3FD", 2},       // with a skin-tone modifier
             {"\U0001F1E9\U0001F1EA", 2},       // a flag
             {"\u263A\uFE0F", 2},               // text emoji asking for emoji presentation
             {"a\u200Bb", 2}}) {                // zero-width space
        EXPECT_EQ(cli::displayWidth(text), width) << text;
    }
    EXPECT_EQ(cli::fitToWidth("数据管道", 6), "数据\u2026") << "a wide character that does not fit is left out";
    EXPECT_EQ(cli::fitToWidth("cafe\u0301s", 4), "caf\u2026");
    EXPECT_EQ(cli::fitToWidth("cafe\u0301", 4), "cafe\u0301");
}

TEST(CliFormat, TableFitsTheTerminalAndLinesUpWhateverTheNames)
{
    const auto now = std::chrono::system_clock::now();
    std::vector<model::AgentSession> sessions;
    for (const auto& [project, branch, age] : std::vector<std::tuple<std::string, std::string, int>>{
             {"数据管道-ingest", "feature/统计", 15},
             {"cafe\u0301-menu", "fix/\U0001F44D\U0001F3FD-and-\U0001F469\u200D\U0001F4BB", 72},
             {"an-extraordinarily-long-project-name", "main", 0}}) {
        sessions.push_back(session("claude:" + project, SessionState::waitingForInput, project));
        sessions.back().branch = branch;
        sessions.back().lastActivityAt = now - std::chrono::hours(age);
        sessions.back().estimatedCost = model::Decimal::fromString("1234.5");
    }
    const auto ids = cli::shortIds(sessions);
    for (const std::size_t columns : {40, 80, 160}) {
        const std::string table = cli::sessionsTable(sessions, ids, now, columns);
        std::istringstream lines(table);
        std::vector<std::string> rows;
        for (std::string line; std::getline(lines, line);) {
            rows.push_back(line);
            EXPECT_LE(cli::displayWidth(line), columns) << line;
            EXPECT_EQ(cli::displayWidth(line), cli::displayWidth(rows[0])) << "every column lines up:\n" << table;
        }
        ASSERT_EQ(rows.size(), 4u);
        EXPECT_TRUE(rows[1].starts_with(ids[0] + "  ")) << "ids are never cut: " << rows[1];
        EXPECT_TRUE(rows[1].ends_with("$1,234.50  15h ago") && rows[2].ends_with("3d ago")) << "nor costs and times";
        EXPECT_EQ(rows[0].find("BRANCH") != std::string::npos, columns > 40) << "left out first: " << rows[0];
        for (const auto& name :
             {"数据管道-ingest", "cafe\u0301-menu", "feature/统计", "-and-\U0001F469\u200D\U0001F4BB"})
            EXPECT_TRUE(columns < 160 || table.find(name) != std::string::npos) << "uncut when wide:\n" << table;
    }
}

TEST(CliFormat, ShortIdsNameTheirSessionAlone)
{
    std::vector<model::AgentSession> sessions;
    for (const char* id : {"claude:7d1c2f4e-8a3b", "claude:7d1c2f4e-9fff", "codex:5e1d7c3a-2b4f", "openCode:ses_01",
                           "cursor:ses_01", "codex:abc", "codex:abcdefghij"})
        sessions.push_back(session(id));
    EXPECT_EQ(cli::shortIds(sessions),
              (Ids{"7d1c2f4e-8", "7d1c2f4e-9", "5e1d7c3a", "openCode:ses_01", "cursor:ses_01", "abc", "abcdefgh"}));
    for (const auto& id : cli::shortIds(sessions))
        EXPECT_EQ(cli::resolveSessionId(sessions, id).size(), 1u) << id;
    for (const auto& [query, expected] :
         std::vector<std::pair<std::string, Ids>>{{"ses_01", {"openCode:ses_01", "cursor:ses_01"}},
                                                  {"cursor:ses_01", {"cursor:ses_01"}}, // a full id is exact
                                                  {"abc", {"codex:abc"}}}) {            // so is a local one
        Ids found;
        for (const auto* s : cli::resolveSessionId(sessions, query))
            found.push_back(s->id);
        EXPECT_EQ(found, expected) << query;
    }
}

TEST(CliFormat, FiltersFromTheCommandLine)
{
    const std::vector<model::AgentSession> sessions{session("claude:a", SessionState::waitingForInput, "web"),
                                                    session("codex:b", SessionState::working, "Données-API"),
                                                    session("openCode:c", SessionState::ended, "DONNÉES-web"),
                                                    session("cursor:d", SessionState::limited, "Cursor")};
    for (const auto& [args, expected] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"sessions"}, "abcd"},
             {{"sessions", "--tool", "codex", "--tool=cursor"}, "bd"},
             {{"sessions", "--state", "ended", "--state", "waitingForInput"}, "ac"},
             {{"sessions", "--project", "données"}, "bc"},
             {{"sessions", "--project", "API", "--active"}, "b"},
             {{"sessions", "--active"}, "abd"},
             {{"sessions", "--tool", "claude", "--state", "working"}, ""}}) {
        const auto filter =
            cli::SessionFilter::fromArguments(std::get<cli::Arguments>(cli::commandTable().parse(args)));
        std::string matched;
        for (const auto& s : sessions)
            matched += filter.matches(s) ? s.id.substr(s.id.find(':') + 1) : "";
        EXPECT_EQ(matched, expected) << ::testing::PrintToString(args);
    }
}
