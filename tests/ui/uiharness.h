#pragma once

#include "core/appstore.h"
#include "core/editableresources.h"
#include "core/settings.h"
#include "pricing/pricingservice.h"
#include "support/fakeclock.h"
#include "support/fakeprovider.h"
#include "support/qtapp.h"
#include "support/sessionfactory.h"
#include "support/tempdir.h"
#include "support/testpricing.h"
#include "ui/appcontroller.h"
#include "ui/application.h"
#include "ui/autostartentry.h"
#include "ui/preferencescontroller.h"
#include "ui/trayhost.h"
#include "ui/updater.h"

#include <QApplication>
#include <QDir>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace loomwatch::testing {

// The QApplication of a UI test executable (offscreen), created before anything else asks for one.
inline QApplication& uiApplication()
{
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance()))
        return *existing;
    static int argc = 1;
    static char name[] = "loomwatch-ui-test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: at exit Qt's own globals (the D-Bus and X connections) may already be gone.
    static auto* app = new QApplication(argc, argv);
    return *app;
}

class FakeTrayHost final : public ui::TrayHost
{
public:
    bool available = true;
    bool shown = false;
    bool updateCheckEnabled = true;
    QString icon;

    bool isAvailable() const override { return available; }
    void show() override { shown = true; }
    QString iconName() const override { return icon; }
    void setIconName(const QString& symbol) override { icon = symbol; }
    void setUpdateCheckEnabled(bool enabled) override { updateCheckEnabled = enabled; }
    void click(QRect geometry = QRect(1200, 0, 24, 24)) { emit activated(geometry); }
};

// One dashboard, panel and settings window over a store fed by four fake providers, with its own
// home folder, settings file and a clock standing at 6 December 2026, 14:00 Berlin time.
class UiHarness
{
public:
    struct Options
    {
        // Settings file to use; empty: a fresh one in the harness's home.
        std::string settingsFile;
        QJsonObject applicationInfo{{QStringLiteral("SUPublicEDKey"), QStringLiteral("REPLACE_BEFORE_RELEASE")}};
        // A real tray icon instead of the fake one.
        ui::TrayHost* tray = nullptr;
    };

    UiHarness() : UiHarness(Options{}) {}
    explicit UiHarness(Options options)
    {
        uiApplication();
        clock = std::make_shared<FakeClock>(localTime(2026, 12, 6, 14, 0));
        settingsFile =
            options.settingsFile.empty() ? (home / ".config/Loomwatch/Loomwatch.conf").string() : options.settingsFile;
        settings = std::make_shared<core::Settings>(QString::fromStdString(settingsFile));
        std::vector<std::shared_ptr<model::SessionProvider>> list;
        for (model::AgentTool tool : model::allAgentTools) {
            providers.push_back(std::make_shared<FakeProvider>(tool));
            list.push_back(providers.back());
        }
        core::AppStore::Dependencies storeDependencies;
        storeDependencies.providers = list;
        storeDependencies.clock = clock;
        storeDependencies.settings = settings;
        storeDependencies.pricing = pricing::PricingService::fromJson(pricingJson());
        store = std::make_unique<core::AppStore>(std::move(storeDependencies));
        updater = std::make_unique<ui::Updater>(options.applicationInfo, QString::fromStdString(settingsFile));

        ui::AppController::Dependencies deps;
        deps.store = store.get();
        deps.settings = settings;
        deps.tray = options.tray ? options.tray : &tray;
        deps.updater = updater.get();
        deps.actions.generateHandoff = [this](const model::AgentSession& s) -> std::string {
            if (handoffError)
                throw std::runtime_error(*handoffError);
            return "# Continuation Handoff\n\nProject: " + s.projectName + "\n";
        };
        deps.actions.terminate = [this](std::int32_t pid, model::AgentTool tool) {
            terminated.emplace_back(pid, tool);
            if (pid < 2)
                throw std::runtime_error("refused");
        };
        controller = std::make_unique<ui::AppController>(std::move(deps));

        resources = std::make_shared<core::EditableResources>(home / ".local/share/Loomwatch", ":/loomwatch/defaults");
        preferences = std::make_unique<ui::PreferencesController>(ui::PreferencesController::Dependencies{
            store.get(), settings, resources,
            ui::AutostartEntry(QString::fromStdString(autostartFolder()), QStringLiteral("/usr/bin/loomwatch")),
            [this](bool show) {
                controller->setShowInTaskbar(show);
            }});
        controller->setPreferences(preferences.get());
    }

    std::string autostartFolder() const { return home / ".config/autostart"; }

    ~UiHarness()
    {
        engine.reset();
        preferences.reset();
        controller.reset();
        store.reset();
    }

    FakeProvider& provider(model::AgentTool tool) { return *providers[static_cast<std::size_t>(tool)]; }

    // Loads the windows (the dashboard shows and starts the store) and waits for the first refresh.
    void load(bool waitForRefresh = true)
    {
        engine = std::make_unique<QQmlApplicationEngine>();
        ui::prepareEngine(*engine, *controller);
        engine->load(QUrl(QStringLiteral("qrc:/Loomwatch/Main.qml")));
        if (engine->rootObjects().isEmpty())
            throw std::runtime_error("Main.qml did not load");
        if (waitForRefresh)
            processEventsUntil([&] { return store->lastRefresh().has_value() && !store->isRefreshing(); });
        settle();
    }

    QObject* root() const { return engine->rootObjects().value(0); }
    QQuickWindow* window(const char* name) const { return qvariant_cast<QQuickWindow*>(root()->property(name)); }
    QQuickWindow* dashboard() const { return window("dashboard"); }
    QQuickWindow* panel() const { return window("panel"); }
    QQuickWindow* settingsWindow() const { return window("settings"); }

    template <typename T = QObject>
    static T* find(QObject* in, const QString& objectName)
    {
        return in ? in->findChild<T*>(objectName) : nullptr;
    }

    // Visible items below the window whose object names start with `prefix`, top to bottom.
    static QList<QQuickItem*> itemsStartingWith(QQuickWindow* window, const QString& prefix)
    {
        QList<QQuickItem*> found;
        for (QQuickItem* candidate : items(window->contentItem()))
            if (candidate->objectName().startsWith(prefix) && candidate->isVisible())
                found << candidate;
        std::ranges::stable_sort(found, {}, [](QQuickItem* i) { return i->mapToScene({0, 0}).y(); });
        return found;
    }
    static QString text(QObject* item)
    {
        return item ? item->property("text").toString() : QStringLiteral("<missing>");
    }

    // Items below `in` (visual children, which include delegates), depth first.
    static QList<QQuickItem*> items(QQuickItem* in)
    {
        QList<QQuickItem*> result;
        if (!in)
            return result;
        for (QQuickItem* child : in->childItems()) {
            result << child;
            result << items(child);
        }
        return result;
    }
    static QQuickItem* item(QQuickWindow* window, const QString& objectName)
    {
        for (QQuickItem* candidate :
             items(window->contentItem()->parentItem() ? window->contentItem()->parentItem() : window->contentItem())) {
            if (candidate->objectName() == objectName)
                return candidate;
        }
        return nullptr;
    }

    static void type(QQuickWindow* window, const QString& text)
    {
        for (QChar c : text)
            QTest::keyClick(window, c.toLatin1());
        settle();
    }

    // Runs the event loop briefly so that bindings, layouts and popups settle.
    static void settle(int ms = 60) { processEventsFor(ms); }

    static void click(QQuickItem* item)
    {
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(item->window(), Qt::LeftButton, {}, centre.toPoint());
        settle();
    }

    // Saves what the window shows to <build>/artifacts/<name>.png and returns the image.
    static QImage screenshot(QQuickWindow* window, const QString& name)
    {
        settle(150);
        const QImage image = window->grabWindow();
        QDir().mkpath(QStringLiteral(LOOMWATCH_ARTIFACTS_DIR));
        image.save(QStringLiteral(LOOMWATCH_ARTIFACTS_DIR "/") + name + QStringLiteral(".png"));
        return image;
    }

    TempHome home;
    std::string settingsFile;
    std::shared_ptr<FakeClock> clock;
    std::vector<std::shared_ptr<FakeProvider>> providers;
    std::shared_ptr<core::Settings> settings;
    std::unique_ptr<core::AppStore> store;
    FakeTrayHost tray;
    std::unique_ptr<ui::Updater> updater;
    std::unique_ptr<ui::AppController> controller;
    std::shared_ptr<core::EditableResources> resources;
    std::unique_ptr<ui::PreferencesController> preferences;
    std::unique_ptr<QQmlApplicationEngine> engine;
    std::optional<std::string> handoffError;
    std::vector<std::pair<std::int32_t, model::AgentTool>> terminated;
};

// A session "minutesAgo" before the harness clock.
inline model::AgentSession sessionAt(const UiHarness& h, model::AgentTool tool, const std::string& id, int minutesAgo,
                                     model::SessionState state = model::SessionState::working)
{
    return makeSession(tool, id, h.clock->now() - std::chrono::minutes(minutesAgo), state);
}

} // namespace loomwatch::testing
