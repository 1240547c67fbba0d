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
}
