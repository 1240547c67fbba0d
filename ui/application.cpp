#include "ui/application.h"

#include "core/appstore.h"
#include "core/dbusnotifier.h"
#include "core/editableresources.h"
#include "core/paths.h"
#include "core/sessionhistory.h"
#include "core/settings.h"
#include "handoff/handoffgenerator.h"
#include "providers/processcontrol.h"
#include "ui/appcontroller.h"
#include "ui/demoprovider.h"
#include "ui/preferencescontroller.h"
#include "ui/symbolimageprovider.h"
#include "ui/systemtrayhost.h"
#include "ui/updater.h"

#include <QApplication>

namespace loomwatch::ui {

void prepareEngine(QQmlEngine& engine, AppController& controller)
{
    // Qt 6.4 does not look for modules in the resource root by itself.
    engine.addImportPath(QStringLiteral("qrc:/"));
    engine.addImageProvider(QStringLiteral("symbol"), new SymbolImageProvider);
    controller.attach(engine);
}

Application::Application(Options options, QObject* parent)
    : QObject(parent), m_settings(std::make_shared<core::Settings>())
{
    if (options.demo) {
        const auto clock = model::systemClock();
        m_store = std::make_unique<core::AppStore>(
            core::AppStore::Dependencies{DemoProvider::all(clock), clock, m_settings, nullptr, std::nullopt});
    } else {
        m_store = std::make_unique<core::AppStore>();
        m_history = core::SessionHistory::open(core::historyPath());
    }
    m_updater = std::make_unique<Updater>(Updater::bundledApplicationInfo(), m_settings->fileName());
    m_tray = std::make_unique<SystemTrayHost>();

    AppController::Dependencies dependencies;
    dependencies.store = m_store.get();
    dependencies.settings = m_settings;
    dependencies.history = m_history.get();
    dependencies.tray = m_tray.get();
    dependencies.updater = m_updater.get();
    dependencies.notifier = std::make_shared<core::DBusNotifier>();
    const auto resources = std::make_shared<core::EditableResources>();
    dependencies.actions.generateHandoff = [resources](const model::AgentSession& session) {
        return handoff::HandoffGenerator([resources] { return resources->handoffTemplateText(); })
            .generateHandoff(session);
    };
    dependencies.actions.terminate = [](std::int32_t pid, model::AgentTool tool) {
        providers::terminate(pid, tool);
    };
    m_controller = std::make_unique<AppController>(std::move(dependencies));

    m_preferences = std::make_unique<PreferencesController>(
        PreferencesController::Dependencies{m_store.get(), m_settings, resources, AutostartEntry::forCurrentUser(),
                                            [controller = m_controller.get()](bool show) {
                                                controller->setShowInTaskbar(show);
                                            }});
    m_controller->setPreferences(m_preferences.get());

    // With a tray icon the application lives on after its windows close; without one, closing the
    // dashboard is the way out.
    QApplication::setQuitOnLastWindowClosed(!m_tray->isAvailable());
    if (m_tray->isAvailable())
        m_tray->show();
}

Application::~Application()
{
    // The windows go before the objects they are bound to.
    m_engine.reset();
}

bool Application::load()
{
    m_engine = std::make_unique<QQmlApplicationEngine>();
    prepareEngine(*m_engine, *m_controller);
    m_engine->load(QUrl(QStringLiteral("qrc:/Loomwatch/Main.qml")));
    return !m_engine->rootObjects().isEmpty();
}

} // namespace loomwatch::ui
