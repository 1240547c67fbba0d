#pragma once

#include "core/appstore.h"
#include "core/editableresources.h"
#include "core/settings.h"
#include "support/fakeclock.h"
#include "support/fakeprovider.h"
#include "support/qtapp.h"
#include "support/sessionfactory.h"
#include "support/tempdir.h"
#include "support/testpricing.h"
#include "ui/appcontroller.h"
#include "ui/application.h"
#include "ui/trayhost.h"

#include <QApplication>
#include <QDir>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtQuickTest/quicktest.h>

#include <algorithm>

namespace loomwatch::testing {

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
    bool isAvailable() const override { return true; }
    void show() override {}
    void setIconName(const QString& symbol) override { icon = symbol; }
    void setUpdateCheckEnabled(bool enabled) override { updateCheckEnabled = enabled; }
    void click() { emit activated(QRect(1200, 0, 24, 24)); }

    QString icon;
    bool updateCheckEnabled = true;
};

// Items under `in` (delegates and open popups included), depth first.
inline QList<QQuickItem*> items(QQuickItem* in)
{
    QList<QQuickItem*> result;
    for (QQuickItem* child : in ? in->childItems() : QList<QQuickItem*>())
        result << child << items(child);
    return result;
}
// The object of that name under `in`: an object child, else a visual one.
inline QObject* find(QObject* in, const QString& name)
{
    if (QObject* child = in ? in->findChild<QObject*>(name) : nullptr)
        return child;
    auto* window = qobject_cast<QQuickWindow*>(in);
    for (QQuickItem* item : items(window ? window->contentItem() : qobject_cast<QQuickItem*>(in)))
        if (item->objectName() == name)
            return item;
    return nullptr;
}
inline QString text(QObject* object)
{
    return object ? object->property("text").toString() : "<missing>";
}
inline bool visible(QObject* object)
{
    return object && object->property("visible").toBool();
}
// Visible items whose names start with `prefix`, top to bottom.
inline QList<QQuickItem*> itemsStartingWith(QQuickWindow* window, const QString& prefix)
{
    QList<QQuickItem*> found;
    for (QQuickItem* candidate : items(window->contentItem()))
        if (candidate->objectName().startsWith(prefix) && candidate->isVisible())
            found << candidate;
    std::ranges::stable_sort(found, {}, [](QQuickItem* i) { return i->mapToScene({0, 0}).y(); });
    return found;
}

inline void click(QObject* object)
{
    auto* item = qobject_cast<QQuickItem*>(object);
    QQuickTest::qWaitForPolish(item->window());
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(item->window(), Qt::LeftButton, {}, centre.toPoint());
}

// Saves what the window shows to <build>/artifacts/<name>.png.
inline void screenshot(QQuickWindow* window, const QString& name)
{
    // Under X the new size reaches the content after the window's geometry.
    processEventsUntil([&] { return window->contentItem()->size() == window->size(); });
    QQuickTest::qWaitForPolish(window);
    QDir().mkpath(QStringLiteral(LOOMWATCH_ARTIFACTS_DIR));
    window->grabWindow().save(QStringLiteral(LOOMWATCH_ARTIFACTS_DIR "/") + name + QStringLiteral(".png"));
}

inline bool shows(QObject* popup, bool open = true)
{
    return processEventsUntil([&] { return popup->property(open ? "opened" : "visible").toBool() == open; });
}

// The application's windows over a store fed by four fake providers, in a home of its own, at
// 6 December 2026, 14:00 local time. The terminate action records its calls and refuses pids below 2.
class UiHarness
{
public:
    struct Options
    {
        std::string settingsFile{}; // empty: a fresh one in the harness's home
        QJsonObject applicationInfo{{QStringLiteral("SUPublicEDKey"), QStringLiteral("REPLACE_BEFORE_RELEASE")}};
        ui::TrayHost* tray = nullptr; // null: the fake one
        std::shared_ptr<core::Notifier> notifier{};
        int updateTimeoutMs = 15000;
    };

    UiHarness() : UiHarness(Options{}) {}
    explicit UiHarness(Options options)
    {
        uiApplication();
        const QString settingsFile = QString::fromStdString(
            options.settingsFile.empty() ? (home / ".config/Loomwatch/Loomwatch.conf").string() : options.settingsFile);
        settings = std::make_shared<core::Settings>(settingsFile);
        core::AppStore::Dependencies storeDependencies;
        storeDependencies.clock = clock;
        storeDependencies.settings = settings;
        storeDependencies.pricing = pricing::PricingService::fromJson(pricingJson());
        for (model::AgentTool tool : model::allAgentTools)
            storeDependencies.providers.push_back(providers.emplace_back(std::make_shared<FakeProvider>(tool)));
        store = std::make_unique<core::AppStore>(std::move(storeDependencies));
        updater = std::make_unique<ui::Updater>(ui::Updater::Options{options.applicationInfo, settingsFile, "0.1.0",
                                                                     options.notifier, options.updateTimeoutMs});
        ui::AppController::Dependencies deps;
        deps.store = store.get();
        deps.settings = settings;
        deps.tray = options.tray ? options.tray : &tray;
        deps.updater = updater.get();
        deps.notifier = options.notifier;
        deps.actions.generateHandoff = [this](const model::AgentSession& s) {
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
        preferences = std::make_unique<ui::PreferencesController>(ui::PreferencesController::Dependencies{
            store.get(), settings,
            std::make_shared<core::EditableResources>(home / ".local/share/Loomwatch", ":/loomwatch/defaults"),
            ui::AutostartEntry(QString::fromStdString(autostartFolder()), QStringLiteral("/usr/bin/loomwatch")),
            [this](bool show) {
                controller->setShowInTaskbar(show);
            }});
        controller->setPreferences(preferences.get());
    }

    std::string autostartFolder() const { return home / ".config/autostart"; }
    FakeProvider& provider(model::AgentTool tool) { return *providers[static_cast<std::size_t>(tool)]; }

    // Loads the windows (the dashboard shows and starts the store), by default past onboarding and
    // until the first refresh is done.
    void load(bool onboarded = true, bool waitForRefresh = true)
    {
        if (onboarded)
            settings->setDidCompleteOnboarding(true);
        engine = std::make_unique<QQmlApplicationEngine>();
        ui::prepareEngine(*engine, *controller);
        engine->load(QUrl(QStringLiteral("qrc:/Loomwatch/Main.qml")));
        if (engine->rootObjects().isEmpty())
            throw std::runtime_error("Main.qml did not load");
        if (waitForRefresh)
            refreshed();
    }
    bool refresh()
    {
        store->refresh();
        return refreshed();
    }
    bool refreshed() const
    {
        return processEventsUntil([&] { return store->lastRefresh() && !store->isRefreshing(); });
    }

    QQuickWindow* window(const char* name) const
    {
        return engine->rootObjects().value(0)->property(name).value<QQuickWindow*>();
    }
    QQuickWindow* dashboard() const { return window("dashboard"); }
    QQuickWindow* panel() const { return window("panel"); }
    QQuickWindow* settingsWindow() const { return window("settings"); }
    QObject* find(const QString& name) const { return testing::find(dashboard(), name); }
    void showSection(const char* section) const { dashboard()->setProperty("section", QString::fromLatin1(section)); }

    TempHome home;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>(localTime(2026, 12, 6, 14, 0));
    std::vector<std::shared_ptr<FakeProvider>> providers;
    std::shared_ptr<core::Settings> settings;
    std::unique_ptr<core::AppStore> store;
    FakeTrayHost tray;
    std::unique_ptr<ui::Updater> updater;
    std::unique_ptr<ui::AppController> controller;
    std::unique_ptr<ui::PreferencesController> preferences;
    std::optional<std::string> handoffError;
    std::vector<std::pair<std::int32_t, model::AgentTool>> terminated;
    std::unique_ptr<QQmlApplicationEngine> engine; // last: the windows go before what they are bound to
};

inline model::AgentSession sessionAt(const UiHarness& h, model::AgentTool tool, const std::string& id, int minutesAgo,
                                     model::SessionState state = model::SessionState::working)
{
    return makeSession(tool, id, h.clock->now() - std::chrono::minutes(minutesAgo), state);
}

} // namespace loomwatch::testing
