#pragma once

#include "core/paths.h"
#include "model/clock.h"
#include "model/sessionprovider.h"

#include <memory>
#include <optional>
#include <vector>

namespace loomwatch::ingestion {
class UsageLedger;
}

namespace loomwatch::core {

class AppStore;
class EditableResources;
class NotificationService;
class Notifier;
class SessionHistory;
class Settings;

struct ServiceOptions
{
    Paths paths = Paths::forCurrentUser();
    std::shared_ptr<const model::Clock> clock = model::systemClock();
    // Watch the agents' folders for changes (a running application); a process that takes one
    // snapshot and exits places no watches.
    bool watchChanges = true;
    bool keepHistory = true;
    // Post desktop notifications over the session bus.
    bool notify = true;
    // Instead of the four providers over `paths` (the demo, tests).
    std::optional<std::vector<std::shared_ptr<model::SessionProvider>>> providers;
    // Instead of the session bus's notification server (tests).
    std::shared_ptr<Notifier> notifier;
};

// Every long-lived service of a running Loomwatch, built once, in dependency order, for the desktop
// application and the command line alike, and destroyed in the reverse order.
struct Services
{
    explicit Services(ServiceOptions options = {});
    ~Services();
    Services(const Services&) = delete;
    Services& operator=(const Services&) = delete;

    Paths paths;
    std::shared_ptr<const model::Clock> clock;
    std::shared_ptr<Settings> settings;
    std::shared_ptr<EditableResources> resources;
    // The token counts of the transcripts, shared by the providers and the usage reports.
    std::shared_ptr<ingestion::UsageLedger> usage;
    // Null when none is kept or no usable file could be made.
    std::unique_ptr<SessionHistory> history;
    // Null when notifications are off.
    std::shared_ptr<Notifier> notifier;
    std::shared_ptr<NotificationService> notifications;
    std::unique_ptr<AppStore> store;
};

// The four providers over `paths`, in refresh order (Claude Code and Codex transcripts, the OpenCode
// database, Cursor's folder), each with its own process inspector; the transcripts' tokens counted in `usage`.
std::vector<std::shared_ptr<model::SessionProvider>>
makeProviders(const Paths& paths, const std::shared_ptr<const model::Clock>& clock, bool watchChanges,
              const std::shared_ptr<ingestion::UsageLedger>& usage);

} // namespace loomwatch::core
