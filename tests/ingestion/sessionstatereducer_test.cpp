#include "ingestion/sessionstatereducer.h"

#include <gtest/gtest.h>

using loomwatch::ingestion::SessionStateReducer;
using loomwatch::model::AgentProcess;
using loomwatch::model::AgentTool;
using loomwatch::model::Clock;
using loomwatch::model::ParsedSession;
using loomwatch::model::SessionState;
using loomwatch::model::SupportLevel;
using loomwatch::model::Timestamp;
using namespace std::chrono_literals;

namespace {

class FixedClock : public Clock
{
public:
    explicit FixedClock(Timestamp now) : m_now(now) {}
    Timestamp now() const override { return m_now; }

private:
    Timestamp m_now;
};

const Timestamp now = Timestamp(std::chrono::sys_days(std::chrono::year(2026) / 12 / 6).time_since_epoch());
const SessionStateReducer reducer(std::make_shared<FixedClock>(now));
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
    EXPECT_EQ(session.id, "codex:abc");
    EXPECT_EQ(session.tool, AgentTool::codex);
    EXPECT_EQ(session.projectPath, "/Users/a/src/app//");
    EXPECT_EQ(session.projectName, "app");
    EXPECT_EQ(session.branch, "main");
    EXPECT_EQ(session.model, "gpt-5-codex");
    EXPECT_EQ(session.startedAt, input.startedAt);
    EXPECT_EQ(session.lastActivityAt, input.lastActivityAt);
    EXPECT_EQ(session.processID, 4242);
    EXPECT_EQ(session.supportLevel, SupportLevel::full);
    EXPECT_EQ(session.tokens, input.tokens);
    EXPECT_EQ(session.estimatedCost, std::nullopt);
    EXPECT_EQ(session.lastSnippet, "done");
    EXPECT_EQ(session.parserVersion, 1);
    EXPECT_EQ(session.sourcePath, input.sourcePath);

    // The same transcript with another process keeps its identity.
    const auto other = reducer.reduce(input, AgentProcess{7, "codex", std::nullopt, std::nullopt});
    EXPECT_EQ(other.id, session.id);
    EXPECT_EQ(other.processID, 7);
    EXPECT_EQ(reducer.reduce(input, std::nullopt).processID, std::nullopt);

    input.projectPath.reset();
    EXPECT_EQ(reducer.reduce(input, std::nullopt).projectName, "Codex");
    input.projectPath = "";
    EXPECT_EQ(reducer.reduce(input, std::nullopt).projectName, "Codex");
    input.projectPath = "relative";
    EXPECT_EQ(reducer.reduce(input, std::nullopt).projectName, "relative");
    input.tool = AgentTool::claude;
    input.projectPath = "/";
    EXPECT_EQ(reducer.reduce(input, std::nullopt).projectName, "/");
    EXPECT_EQ(reducer.reduce(input, std::nullopt).id, "claude:abc");
}
