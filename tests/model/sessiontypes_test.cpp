#include "model/sessiontypes.h"

#include <gtest/gtest.h>

#include <unordered_set>

using namespace loomwatch::model;

TEST(SessionTypes, RawValuesRoundTripAndAreCaseSensitive)
{
    for (AgentTool tool : allAgentTools)
        EXPECT_EQ(agentToolFromRaw(rawValue(tool)), tool);
    for (SessionState state : allSessionStates)
        EXPECT_EQ(sessionStateFromRaw(rawValue(state)), state);
    for (SupportLevel level : allSupportLevels)
        EXPECT_EQ(supportLevelFromRaw(rawValue(level)), level);

    EXPECT_EQ(agentToolFromRaw("openCode"), AgentTool::openCode);
    EXPECT_FALSE(agentToolFromRaw("opencode"));
    EXPECT_FALSE(sessionStateFromRaw("waitingforinput"));
    EXPECT_FALSE(supportLevelFromRaw("processonly"));
    EXPECT_FALSE(agentToolFromRaw(""));
}

TEST(SessionTypes, SessionsDifferingInOneFieldAreUnequalButShareIdentity)
{
    AgentSession a;
    a.id = "claude:abc";
    a.lastSnippet = "one";
    AgentSession b = a;
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<AgentSession>{}(a), std::hash<AgentSession>{}(b));
    b.lastSnippet = "two";
    EXPECT_NE(a, b);
    EXPECT_EQ(a.id, b.id);
    b = a;
    b.estimatedCost = Decimal(0);
    EXPECT_NE(a, b) << "absent and zero cost differ";

    std::unordered_set<AgentSession> set{a, b};
    EXPECT_EQ(set.size(), 2u);
}
