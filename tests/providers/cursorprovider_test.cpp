#include "providers/cursorprovider.h"

#include "providers/providertestsupport.h"

// Installed with its folder (the agent-worker folder below it need not exist); every Cursor process
// is one limited session; changes below the agent-worker folder send events.
TEST(CursorProvider, WatchesAtProcessLevelOnly)
{
    TempDir tmp;
    const std::string root = (tmp / "Cursor").string();
    const std::string worker = root + "/User/globalStorage/anysphere.cursor-agent-worker";
    EXPECT_EQ(
        CursorProvider(root, std::make_shared<FakeInspector>()).probe(),
        (model::ProviderProbeResult{AgentTool::cursor, false, model::SupportLevel::unavailable, root, std::nullopt}));
    fs::create_directories(root);
    EXPECT_TRUE(CursorProvider(root, std::make_shared<FakeInspector>()).probe().installed) << "no agent-worker folder";

    fs::create_directories(worker + "/state");
    const model::Timestamp start = model::Timestamp(std::chrono::milliseconds(1'764'000'000'000));
    auto inspector = std::make_shared<FakeInspector>(
        std::vector<model::AgentProcess>{{501, "cursor-agent-worker", "/opt/cursor/cursor-agent-worker", "/home/dev"},
                                         {733, "cursor", "/usr/share/cursor/cursor", std::nullopt}});
    CursorProvider provider(root, inspector, std::make_shared<FakeClock>(start));
    const auto sessions = provider.sessions();
    EXPECT_EQ(inspector->asked, std::vector<AgentTool>{AgentTool::cursor});
    ASSERT_EQ(sessions.size(), 2u);
    // clang-format off
    EXPECT_EQ(sessions[0], (model::AgentSession{.id = "cursor:process:501", .tool = AgentTool::cursor,
        .projectPath = std::nullopt, .projectName = "Cursor Agent", .branch = std::nullopt, .model = std::nullopt,
        .startedAt = start, .lastActivityAt = start, .processID = 501, .state = model::SessionState::limited,
        .supportLevel = model::SupportLevel::processOnly, .tokens = {}, .estimatedCost = std::nullopt,
        .lastSnippet = "Process-level monitoring", .parserVersion = 1, .sourcePath = worker}));
    // clang-format on
    EXPECT_EQ(sessions[1].id, "cursor:process:733");
    inspector->list.clear();
    EXPECT_TRUE(provider.sessions().empty());

    auto events = provider.events();
    writeFile(worker + "/state/run.json", "{}");
    EXPECT_EQ(nextEvent(events, 5s), model::ProviderEvent::changed(AgentTool::cursor));
}
