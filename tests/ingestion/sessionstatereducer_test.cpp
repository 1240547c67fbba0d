#include "ingestion/sessionstatereducer.h"

#include "support/fakeclock.h"

#include <gtest/gtest.h>

using loomwatch::ingestion::SessionStateReducer;
using loomwatch::model::AgentProcess;
using loomwatch::model::AgentTool;
using loomwatch::model::ParsedSession;
using loomwatch::model::SessionState;
using loomwatch::model::SupportLevel;
using loomwatch::model::Timestamp;
using namespace std::chrono_literals;

namespace {

const Timestamp now = Timestamp(std::chrono::sys_days(std::chrono::year(2026) / 12 / 6).time_since_epoch());
const SessionStateReducer reducer(std::make_shared<loomwatch::testing::FakeClock>(now));
const AgentProcess process{4242, "claude", "/usr/bin/claude", "/home/dev/src/app"};

ParsedSession parsed(std::optional<SessionState> state, std::chrono::seconds age = 10s)
{
    ParsedSession session;
    session.id = "abc";
    session.explicitState = state;
    session.lastActivityAt = now - age;
    session.startedAt = now - 1h;
    return session;
}

} // namespace

TEST(SessionStateReducerTest, StateRules)
{
    EXPECT_EQ(reducer.reduce(parsed(SessionState::errored), std::nullopt).state, SessionState::errored);
    EXPECT_EQ(reducer.reduce(parsed(SessionState::errored), process).state, SessionState::errored);
    EXPECT_EQ(reducer.reduce(parsed(SessionState::waitingForInput), std::nullopt).state, SessionState::ended);
    EXPECT_EQ(reducer.reduce(parsed(SessionState::working), std::nullopt).state, SessionState::ended);
    EXPECT_EQ(reducer.reduce(parsed(SessionState::waitingForInput, 5h), process).state, SessionState::waitingForInput);
    EXPECT_EQ(reducer.reduce(parsed(std::nullopt), process).state, SessionState::idle);
    EXPECT_EQ(reducer.reduce(parsed(SessionState::limited), process).state, SessionState::idle);

    EXPECT_EQ(reducer.reduce(parsed(SessionState::working, 299s), process).state, SessionState::working);
    EXPECT_EQ(reducer.reduce(parsed(SessionState::working, 300s), process).state, SessionState::idle);
    EXPECT_EQ(reducer.reduce(parsed(SessionState::working, -30s), process).state, SessionState::working);
    auto almost = parsed(SessionState::working);
    almost.lastActivityAt = now - 300s + 1ns;
    EXPECT_EQ(reducer.reduce(almost, process).state, SessionState::working);
}

TEST(SessionStateReducerTest, IdentityNameAndFields)
{
    auto input = parsed(SessionState::working);
    input.tool = AgentTool::codex;
    input.projectPath = "/Users/a/src/app//";
    input.branch = "main";
    input.model = "gpt-5-codex";
    input.tokens = {1, 2, 3, 4};
    input.safeSnippet = "done";
    input.sourcePath = "/home/dev/.codex/sessions/x.jsonl";

    const auto session = reducer.reduce(input, process);
    loomwatch::model::AgentSession expected{
        "codex:abc",        AgentTool::codex, "/Users/a/src/app//", "app",  "main",
        "gpt-5-codex",      input.startedAt,  input.lastActivityAt, 4242,   SessionState::working,
        SupportLevel::full, input.tokens,     std::nullopt,         "done", 1,
        input.sourcePath};
    EXPECT_EQ(session, expected);

    // The same transcript with another process keeps its identity.
    const auto other = reducer.reduce(input, AgentProcess{7, "codex", std::nullopt, std::nullopt});
    EXPECT_EQ(other.id, session.id);
    EXPECT_EQ(other.processID, 7);
    EXPECT_EQ(reducer.reduce(input, std::nullopt).processID, std::nullopt);

    for (const auto& [path, name] : std::vector<std::pair<std::optional<std::string>, std::string>>{
             {std::nullopt, "Codex"}, {"", "Codex"}, {"relative", "relative"}}) {
        input.projectPath = path;
        EXPECT_EQ(reducer.reduce(input, std::nullopt).projectName, name);
    }
    input.tool = AgentTool::claude;
    input.projectPath = "/";
    EXPECT_EQ(reducer.reduce(input, std::nullopt).projectName, "/");
    EXPECT_EQ(reducer.reduce(input, std::nullopt).id, "claude:abc");
}
