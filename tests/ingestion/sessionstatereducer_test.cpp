#include "ingestion/sessionstatereducer.h"

#include "support/fakeclock.h"

#include <gtest/gtest.h>

using loomwatch::ingestion::SessionStateReducer;
using namespace loomwatch::model;
using namespace std::chrono_literals;

namespace {

const Timestamp now = Timestamp(std::chrono::sys_days(std::chrono::year(2026) / 12 / 6).time_since_epoch());
const SessionStateReducer reducer(std::make_shared<loomwatch::testing::FakeClock>(now));
const AgentProcess process{4242, "claude", "/usr/bin/claude", "/home/dev/src/app"};

SessionState reduced(std::optional<SessionState> stated, bool running, Timestamp::duration age = 10s)
{
    ParsedSession parsed;
    parsed.explicitState = stated;
    parsed.lastActivityAt = now - age;
    return reducer.reduce(parsed, running ? std::optional(process) : std::nullopt).state;
}

} // namespace

TEST(SessionStateReducerTest, StateRules)
{
    using S = SessionState;
    EXPECT_EQ(reduced(S::errored, false), S::errored);
    EXPECT_EQ(reduced(S::errored, true), S::errored);
    EXPECT_EQ(reduced(S::waitingForInput, false), S::ended);
    EXPECT_EQ(reduced(S::working, false), S::ended);
    EXPECT_EQ(reduced(S::waitingForInput, true, 5h), S::waitingForInput);
    EXPECT_EQ(reduced(std::nullopt, true), S::idle);
    EXPECT_EQ(reduced(S::limited, true), S::idle);
    EXPECT_EQ(reduced(S::working, true, 300s - 1ns), S::working);
    EXPECT_EQ(reduced(S::working, true, 300s), S::idle);
    EXPECT_EQ(reduced(S::working, true, -30s), S::working);
}

TEST(SessionStateReducerTest, AMissingProjectIsNamedAfterTheTool)
{
    ParsedSession input;
    input.tool = AgentTool::codex;
    for (const auto& path : {std::optional<std::string>(""), std::optional<std::string>()}) {
        input.projectPath = path;
        EXPECT_EQ(reducer.reduce(input, std::nullopt).projectName, "Codex");
    }
}
