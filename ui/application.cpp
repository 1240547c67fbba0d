#include "ui/application.h"

#include "core/appstore.h"
#include "core/editableresources.h"
#include "core/services.h"
#include "core/settings.h"
#include "handoff/handoffgenerator.h"
#include "providers/processcontrol.h"
#include "ui/appcontroller.h"
#include "ui/demoprovider.h"
#include "ui/preferencescontroller.h"
#include "ui/singleinstance.h"
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

Application::Application(Options options, QObject* parent) : QObject(parent)
{
    core::ServiceOptions serviceOptions;
    if (options.demo) {
        m_demoFolder = std::make_unique<QTemporaryDir>();
        const std::string root = m_demoFolder->path().toStdString();
        serviceOptions.paths =
            core::Paths{root, root + "/config", root + "/data/Loomwatch", root + "/config/Cursor", root + "/cache"};
        serviceOptions.providers = DemoProvider::all(serviceOptions.clock);
        DemoProvider::writeWeekTranscripts(root, serviceOptions.clock->now());
        serviceOptions.keepHistory = false;
    }
    m_services = std::make_unique<core::Services>(std::move(serviceOptions));
    core::Services& services = *m_services;
    m_updater =
        std::make_unique<Updater>(Updater::Options{Updater::bundledApplicationInfo(), services.settings->fileName(),
                                                   QCoreApplication::applicationVersion(), services.notifier});
    m_tray = std::make_unique<SystemTrayHost>();

    AppController::Dependencies dependencies;
    dependencies.store = services.store.get();
    dependencies.settings = services.settings;
    dependencies.tray = m_tray.get();
    dependencies.updater = m_updater.get();
    dependencies.notifier = services.notifier;
    dependencies.actions.generateHandoff = [resources = services.resources](const model::AgentSession& session) {
        return handoff::HandoffGenerator([resources] { return resources->handoffTemplateText(); })
            .generateHandoff(session);
    };
    dependencies.actions.terminate = [](std::int32_t pid, model::AgentTool tool) {
        providers::terminate(pid, tool);
    };
    m_controller = std::make_unique<AppController>(std::move(dependencies));

    m_preferences = std::make_unique<PreferencesController>(PreferencesController::Dependencies{
        services.store.get(), services.settings, services.resources,
        AutostartEntry::forThisExecutable(QString::fromStdString(services.paths.configDirectory)),
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
    if (m_engine->rootObjects().isEmpty())
        return false;
    m_updater->startAutomaticChecks();
    return true;
}

void Application::serve(SingleInstance& instance)
{
    connect(&instance, &SingleInstance::activated, m_controller.get(), &AppController::openDashboard);
    connect(&instance, &SingleInstance::actionActivated, m_controller.get(), &AppController::activateAction);
}

} // namespace loomwatch::ui
