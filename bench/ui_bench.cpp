// Desktop app timings: search filtering per keystroke at 1,000 sessions and the dashboard's first
// frame with 200 sessions. Run offscreen or, for the real figure, under Xvfb with QT_QPA_PLATFORM=xcb.
#include "ui/uiharness.h"

#include <QElapsedTimer>
#include <QQmlEngineExtensionPlugin>
#include <QQuickStyle>

#include <benchmark/benchmark.h>

Q_IMPORT_QML_PLUGIN(LoomwatchPlugin)

namespace {

using loomwatch::model::AgentTool;
using loomwatch::model::SessionState;
using loomwatch::testing::UiHarness;

const char* const projects[] = {"billing-service", "mobile-app",    "infra-terraform", "docs-site",
                                "design-system",   "api-gateway",   "data-pipeline",   "loomwatch",
                                "ml-experiments",  "payments-core", "search-indexer",  "web-frontend"};
const char* const branches[] = {"main", "feature/invoice-pdf", "fix/login-crash", "chore/upgrade-deps", "exp/lora"};

std::vector<loomwatch::model::AgentSession> sessions(const UiHarness& h, int count)
{
    std::vector<loomwatch::model::AgentSession> list;
    for (int i = 0; i < count; ++i) {
        const auto tool = loomwatch::model::allAgentTools[static_cast<std::size_t>(i % 4)];
        auto s = loomwatch::testing::sessionAt(h, tool, "session-" + std::to_string(i), i,
                                               i % 7 == 0   ? SessionState::waitingForInput
                                               : i % 3 == 0 ? SessionState::ended
                                                            : SessionState::working);
        s.projectName = std::string(projects[i % 12]) + "-" + std::to_string(i / 12);
        if (i % 5 != 4)
            s.branch = branches[i % 5];
        list.push_back(std::move(s));
    }
    return list;
}

const QStringList keystrokes{"b", "bi", "bil", "bill", "billi", "billin", "billing", "billing-", "billing-s",
                             "c", "co", "cod", "code", "codex", "f",      "fe",      "fea"};

void BM_SearchKeystrokeModel(benchmark::State& state)
{
    UiHarness h;
    loomwatch::ui::SessionListModel list;
    loomwatch::ui::SessionFilterModel model(&list, {});
    list.setSessions(sessions(h, static_cast<int>(state.range(0))));
    int i = 0;
    for (auto _ : state)
        model.setSearch(keystrokes[i++ % keystrokes.size()]);
}
BENCHMARK(BM_SearchKeystrokeModel)->Arg(1000)->Unit(benchmark::kMicrosecond);

// The keystroke as the user sees it: the filter, the list's new delegates and one rendered frame.
void BM_SearchKeystrokeRendered(benchmark::State& state)
{
    UiHarness h;
    h.provider(AgentTool::claude).setSessions(sessions(h, static_cast<int>(state.range(0))));
    h.load();
    h.showSection("sessions");
    QQuickTest::qWaitForPolish(h.dashboard());
    int i = 0;
    const bool typing = state.range(1) != 0;
    QQuickItem* content = h.dashboard()->contentItem();
    for (auto _ : state) {
        if (typing)
            h.controller->sessions()->setSearch(keystrokes[i++ % keystrokes.size()]);
        else
            content->setOpacity(i++ % 2 ? 1.0 : 0.999);
        benchmark::DoNotOptimize(h.dashboard()->grabWindow());
    }
}
// The second argument 0 renders a full new frame without typing: the baseline to subtract.
BENCHMARK(BM_SearchKeystrokeRendered)->Args({1000, 1})->Args({1000, 0})->Unit(benchmark::kMillisecond)->Iterations(50);

// From loading the windows to the dashboard's first frame, with the sessions already in the store.
void BM_DashboardFirstFrame(benchmark::State& state)
{
    for (auto _ : state) {
        UiHarness h;
        h.store->apply(sessions(h, static_cast<int>(state.range(0))));
        QElapsedTimer timer;
        timer.start();
        h.load(true, false);
        QQuickWindow* window = h.dashboard();
        bool swapped = false;
        QObject::connect(window, &QQuickWindow::frameSwapped, window, [&] { swapped = true; });
        loomwatch::testing::processEventsUntil([&] { return swapped || !window->isExposed(); }, 10000);
        if (!swapped) // offscreen windows render only when asked
            window->grabWindow();
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
    }
}
BENCHMARK(BM_DashboardFirstFrame)->Arg(200)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    loomwatch::testing::uiApplication();
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
