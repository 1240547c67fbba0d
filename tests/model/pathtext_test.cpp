#include "model/pathtext.h"

#include <gtest/gtest.h>

using namespace loomwatch::model;

TEST(PathText, LastComponentAndStem)
{
    EXPECT_EQ(lastPathComponent("/Users/a/src/app//"), "app");
    EXPECT_EQ(lastPathComponent("relative"), "relative");
    EXPECT_EQ(lastPathComponent("//"), "/");
    EXPECT_EQ(fileStem("/home/dev/.codex/sessions/rollout-1.2.jsonl"), "rollout-1.2");
    EXPECT_EQ(fileStem("/p/.jsonl"), ".jsonl");
    EXPECT_EQ(fileStem("/p/notes."), "notes.");
    // A long Codex session keeps its id when its first line falls out of the tail that is read.
    const std::string rollout = "/s/2026/12/06/rollout-2026-12-06T10-42-06-0199a213-81c0-7800-8aa1-bbab2a035a53.jsonl";
    EXPECT_EQ(transcriptSessionName(rollout, true), "0199a213-81c0-7800-8aa1-bbab2a035a53");
    EXPECT_EQ(transcriptSessionName(rollout, false), fileStem(rollout));
    EXPECT_EQ(transcriptSessionName("/s/rollout-2026-12-06T10-42-06-not-a-uuid.jsonl", true),
              "rollout-2026-12-06T10-42-06-not-a-uuid");
}
