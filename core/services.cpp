#include "core/services.h"

#include "core/appstore.h"
#include "core/dbusnotifier.h"
#include "core/editableresources.h"
#include "core/notificationservice.h"
#include "core/sessionhistory.h"
#include "core/settings.h"
#include "ingestion/filesessionprovider.h"
#include "ingestion/usageledger.h"
#include "providers/cursorprovider.h"
#include "providers/opencodeprovider.h"
#include "providers/procfsprocesses.h"

namespace loomwatch::core {

std::vector<std::shared_ptr<model::SessionProvider>> makeProviders(const Paths& paths,
                                                                   const std::shared_ptr<const model::Clock>& clock,
                                                                   bool watchChanges,
                                                                   const std::shared_ptr<ingestion::UsageLedger>& usage)
{
    auto inspector = [] {
        return std::make_shared<const providers::NativeProcessInspector>();
    };
    return {
        std::make_shared<ingestion::FileSessionProvider>(model::AgentTool::claude, paths.claudeProjects(), inspector(),
                                                         clock, watchChanges, usage),
        std::make_shared<ingestion::FileSessionProvider>(model::AgentTool::codex, paths.codexSessions(), inspector(),
                                                         clock, watchChanges, usage),
        std::make_shared<providers::OpenCodeProvider>(paths.home + "/.local/share/opencode/opencode.db", inspector(),
                                                      watchChanges),
        std::make_shared<providers::CursorProvider>(paths.cursorDirectory, inspector(), clock, watchChanges),
    };
}

Services::Services(ServiceOptions options)
    : paths(std::move(options.paths)), clock(std::move(options.clock)),
      settings(std::make_shared<Settings>(QString::fromStdString(paths.settingsFile()))),
      resources(std::make_shared<EditableResources>(paths.dataDirectory)),
      usage(std::make_shared<ingestion::UsageLedger>(paths.usageLedgerFile()))
{
    if (options.keepHistory)
        history = SessionHistory::open(paths.historyFile());
    if (options.notifier)
        notifier = std::move(options.notifier);
    else if (options.notify)
        notifier = std::make_shared<DBusNotifier>();
    if (notifier)
        notifications = std::make_shared<NotificationService>(notifier, clock);

    AppStore::Dependencies dependencies;
    dependencies.providers =
        options.providers ? std::move(*options.providers) : makeProviders(paths, clock, options.watchChanges, usage);
    dependencies.clock = clock;
    dependencies.settings = settings;
    // Creates the pricing working copy on first use.
    dependencies.pricing = resources->loadPricing();
    dependencies.history = history.get();
    dependencies.notifications = notifications;
    dependencies.usage = usage;
    dependencies.transcriptRoots = {paths.claudeProjects(), paths.codexSessions()};
    store = std::make_unique<AppStore>(std::move(dependencies));
}

Services::~Services() = default;

} // namespace loomwatch::core
