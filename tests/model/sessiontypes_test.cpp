#include "model/pathtext.h"
#include "model/sessiontypes.h"

#include <gtest/gtest.h>

using namespace loomwatch::model;

TEST(SessionTypes, RawValuesRoundTripAndAreCaseSensitive)
{
    for (AgentTool tool : allAgentTools)
        EXPECT_EQ(agentToolFromRaw(rawValue(tool)), tool);
    for (SessionState state : allSessionStates)
        EXPECT_EQ(sessionStateFromRaw(rawValue(state)), state);
    for (SupportLevel level : allSupportLevels)
        EXPECT_EQ(supportLevelFromRaw(rawValue(level)), level);
    EXPECT_EQ(rawValue(AgentTool::openCode), "openCode");
    EXPECT_FALSE(agentToolFromRaw("opencode"));
    EXPECT_FALSE(sessionStateFromRaw("waitingforinput"));
    EXPECT_FALSE(supportLevelFromRaw(""));
}

TEST(PathText, LastComponentAndStem)
{
    EXPECT_EQ(lastPathComponent("/Users/a/src/app//"), "app");
    EXPECT_EQ(lastPathComponent("relative"), "relative");
    EXPECT_EQ(lastPathComponent("//"), "/");
    EXPECT_EQ(fileStem("/home/dev/.codex/sessions/rollout-1.2.jsonl"), "rollout-1.2");
    EXPECT_EQ(fileStem("/p/.jsonl"), ".jsonl");
    EXPECT_EQ(fileStem("/p/notes."), "notes.");
}
