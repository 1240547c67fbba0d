#include "cli/jsonoutput.h"

#include "cli/jsonwriter.h"
#include "core/appstore.h"
#include "core/sessionhistory.h"
#include "model/clock.h"

namespace loomwatch::cli {

void writeSession(JsonWriter& json, const model::AgentSession& s)
{
    json.beginObject();
    json.key("id").value(s.id);
    json.key("tool").value(model::rawValue(s.tool));
    json.key("projectPath").value(s.projectPath);
    json.key("projectName").value(s.projectName);
    json.key("branch").value(s.branch);
    json.key("model").value(s.model);
    json.key("startedAt").value(model::formatIso8601Millis(s.startedAt));
    json.key("lastActivityAt").value(model::formatIso8601Millis(s.lastActivityAt));
    json.key("processID");
    if (s.processID)
        json.value(static_cast<std::int64_t>(*s.processID));
    else
        json.null();
    json.key("state").value(model::rawValue(s.state));
    json.key("supportLevel").value(model::rawValue(s.supportLevel));
    json.key("tokens").beginObject();
    json.key("input").value(s.tokens.input);
    json.key("output").value(s.tokens.output);
    json.key("cacheRead").value(s.tokens.cacheRead);
    json.key("cacheWrite").value(s.tokens.cacheWrite);
    json.endObject();
    json.key("estimatedCost");
    if (s.estimatedCost)
        json.value(s.estimatedCost->toString());
    else
        json.null();
    json.key("lastSnippet").value(s.lastSnippet);
    json.key("parserVersion").value(s.parserVersion);
    json.key("sourcePath").value(s.sourcePath);
    json.endObject();
}

std::string sessionsJson(const std::vector<model::AgentSession>& sessions)
{
    JsonWriter json;
    json.beginArray();
    for (const auto& session : sessions)
        writeSession(json, session);
    json.endArray();
    return json.text();
}

std::string costsJson(const core::AppStore& store)
{
    JsonWriter json;
    json.beginObject();
    json.key("today").value(store.todayCost().toString());
    json.key("currency").value("USD");
    json.key("tools").beginObject();
    for (model::AgentTool tool : model::allAgentTools)
        json.key(model::rawValue(tool)).value(store.todayCost(tool).toString());
    json.endObject().endObject();
    return json.text();
}

std::string diagnosticsJson(const core::AppStore& store)
{
    JsonWriter json;
    json.beginObject();
    json.key("probes").beginArray();
    for (const auto& probe : store.probes()) {
        json.beginObject();
        json.key("tool").value(model::rawValue(probe.tool));
        json.key("installed").value(probe.installed);
        json.key("supportLevel").value(model::rawValue(probe.supportLevel));
        json.key("detectedPath").value(probe.detectedPath);
        json.key("lastError").value(probe.lastError);
        json.endObject();
    }
    json.endArray();
    json.key("lastRefresh");
    if (store.lastRefresh())
        json.value(model::formatIso8601Millis(*store.lastRefresh()));
    else
        json.null();
    json.key("sessionCount").value(static_cast<std::int64_t>(store.sessions().size()));
    json.key("historyRetentionDays")
        .value(std::int64_t{std::chrono::duration_cast<std::chrono::days>(core::SessionHistory::retention).count()});
    json.endObject();
    return json.text();
}

std::string statusJson(const core::AppStore& store)
{
    JsonWriter json;
    json.beginObject();
    json.key("waiting").value(std::int64_t{store.waitingCount()});
    json.key("working").value(std::int64_t{store.workingCount()});
    json.key("active").value(std::int64_t{store.activeCount()});
    json.key("today").value(store.todayCost().toString());
    json.key("currency").value("USD");
    json.endObject();
    return json.text();
}

} // namespace loomwatch::cli
