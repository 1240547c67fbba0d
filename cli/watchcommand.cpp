#include "cli/watchcommand.h"

#include "cli/commandcontext.h"
#include "cli/datetimetext.h"
#include "cli/jsonoutput.h"
#include "cli/jsonwriter.h"
#include "cli/signalpipe.h"
#include "cli/terminaltable.h"
#include "core/appstore.h"
#include "core/notificationservice.h"
#include "core/notifier.h"
#include "core/services.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

#include <map>
#include <ostream>

namespace loomwatch::cli {

namespace {

class WatchPrinter
{
public:
    WatchPrinter(const core::AppStore& store, bool json, std::ostream& out, std::ostream& err)
        : m_store(store), m_json(json), m_out(out), m_err(err)
    {}

    void sessionsChanged()
    {
        std::map<std::string, model::AgentSession> current;
        for (const auto& session : m_store.sessions())
            current.emplace(session.id, session);
        for (const auto& session : m_store.sessions()) {
            const auto before = m_known.find(session.id);
            if (before == m_known.end())
                print("appeared", session);
            else if (before->second.state != session.state)
                print("changed", session);
        }
        for (const auto& [id, session] : m_known) {
            if (!current.contains(id))
                print("disappeared", session);
        }
        m_known = std::move(current);
        m_out.flush();
        // Nobody reads any more (`watch | head -1`): end quietly.
        if (!m_out)
            QCoreApplication::quit();
    }

    void errorChanged()
    {
        if (const auto& error = m_store.errorMessage(); error && error != m_lastError)
            m_err << *error << std::endl;
        m_lastError = m_store.errorMessage();
    }

private:
    void print(std::string_view event, const model::AgentSession& s)
    {
        if (m_json) {
            JsonWriter json;
            json.beginObject().key("event").value(event).key("session");
            writeSession(json, s);
            json.endObject();
            m_out << json.text() << '\n';
            return;
        }
        TerminalTable line({{"", 11}, {"", 11}, {"", 22}, {"", 15}, {"", 12}});
        line.addRow({localTimeText(m_store.clock().now()), std::string(event), s.projectName,
                     std::string(model::displayName(s.state)), std::string(model::displayName(s.tool))});
        m_out << line.render(false);
    }

    const core::AppStore& m_store;
    bool m_json;
    std::ostream& m_out;
    std::ostream& m_err;
    std::map<std::string, model::AgentSession> m_known;
    std::optional<std::string> m_lastError;
};

// A click on one of our notifications asks the desktop application, by its bus name, to show what
// the notification is about; the bus starts it first when it is installed but not running.
void openInApplication(const std::string& identifier, std::ostream& err)
{
    const auto action = core::NotificationService::clickAction(identifier);
    const QString name = QString::fromLatin1(core::applicationBusName);
    const QString path = QString::fromLatin1(core::applicationObjectPath);
    const QString interface = QString::fromLatin1(core::applicationInterface);
    QDBusMessage call;
    if (action.name.empty()) {
        call = QDBusMessage::createMethodCall(name, path, interface, QStringLiteral("Activate"));
        call << QVariantMap();
    } else {
        QVariantList parameter;
        if (!action.parameter.empty())
            parameter << QVariant::fromValue(QDBusVariant(QString::fromStdString(action.parameter)));
        call = QDBusMessage::createMethodCall(name, path, interface, QStringLiteral("ActivateAction"));
        call << QString::fromStdString(action.name) << parameter << QVariantMap();
    }
    // Starting the application may take a while; the watch goes on meanwhile.
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 30000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [&err](QDBusPendingCallWatcher* w) {
        if (w->isError())
            err << "loomwatch-cli: could not open Loomwatch: " << w->error().message().toStdString() << std::endl;
        w->deleteLater();
    });
}

int watch(CommandContext& context, std::ostream& out, std::ostream& err)
{
    const SignalPipe stopOnSignal([] { QCoreApplication::quit(); });
    core::AppStore& store = context.store();
    WatchPrinter printer(store, context.args().flag("--json"), out, err);
    const QObject connections;
    QObject::connect(&store, &core::AppStore::sessionsChanged, &connections, [&] { printer.sessionsChanged(); });
    QObject::connect(&store, &core::AppStore::errorMessageChanged, &connections, [&] { printer.errorChanged(); });
    if (const auto& notifier = context.services().notifier)
        notifier->setActivationHandler([&err](const std::string& identifier) { openInApplication(identifier, err); });
    store.start();
    QCoreApplication::exec();
    return 0;
}

} // namespace

Command watchCommand()
{
    return {.name = "watch",
            .options = {{"--json", "", "one JSON object per change: {\"event\": ..., \"session\": {...}}"},
                        {"--notify", "", "also post the desktop notifications (waiting for input, daily budget)"}},
            .summary = "keep running and report sessions as they change;\n--notify also posts desktop notifications",
            .description = "Keeps running and prints one line per session that appears, changes state or\n"
                           "disappears. Ends cleanly on Ctrl+C or SIGTERM. With --notify, clicking a\n"
                           "notification opens it in Loomwatch (started first when it is installed).",
            .example = "watch --notify",
            .watches = true,
            .run = watch};
}

} // namespace loomwatch::cli
