#include "clitestsupport.h"

#include <gtest/gtest.h>

#include <iterator>

using namespace loomwatch::testing;
using namespace std::chrono;

// The transcripts of tests/data/usage in a home; tests/data/usage/reports.txt says what usage reports of them.
TEST(CliUsage, ReportsPerDayAndSessionAgreeWithTheSessionsList)
{
    TempHome home;
    const auto written = sys_days(2026y / December / 6) + 10h;
    home.write(".claude/projects/-home-dev-src-api-server/5f1d7c2a-3b9e-4e61-9c1a-7d2e8f0a4b61.jsonl",
               testData("usage/claude-session.jsonl"), written);
    home.write(".codex/sessions/2026/12/06/rollout-2026-12-06T08-00-00-0199a2b4-7c3d-7e21-9f10-2b3c4d5e6f70.jsonl",
               testData("usage/codex-session.jsonl"), written);
    home.write(".codex/sessions/2026/11/02/rollout-old.jsonl", testData("usage/codex-session.jsonl"),
               sys_days(2026y / November / 2));

    std::istringstream reports(testData("usage/reports.txt"));
    int checked = 0;
    for (std::string line, expected; std::getline(reports, line);) {
        if (line.starts_with("#") || !std::getline(reports, expected))
            continue;
        std::istringstream words(line);
        const auto result = runInProcess({std::istream_iterator<std::string>(words), {}});
        EXPECT_EQ(result.exitCode, 0) << line;
        EXPECT_EQ(result.out, expected + "\n") << line;
        ++checked;
    }
    EXPECT_EQ(checked, 4);

    // Each session's totals in the list are its rows' sums, and its cost theirs.
    const auto sessions = runInProcess({"sessions", "--json"}).out;
    for (const char* totals : {R"("tokens":{"input":117,"output":434,"cacheRead":45006,"cacheWrite":1208},)"
                               R"("estimatedCost":"0.025382")",
                               R"("tokens":{"input":360,"output":59,"cacheRead":220,"cacheWrite":0},)"
                               R"("estimatedCost":"0.0010675")"})
        EXPECT_NE(sessions.find(totals), std::string::npos) << sessions;

    const auto text = runInProcess({"usage", "--since", "2026-12-06", "--until", "2026-12-06"});
    EXPECT_NE(text.out.find("\n2026-12-06  Claude Code  claude-sonnet-4-5-20250929  "), std::string::npos) << text.out;
}
