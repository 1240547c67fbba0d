#pragma once

#include <QObject>
#include <QQmlApplicationEngine>

#include <memory>

namespace loomwatch::core {
struct Services;
} // namespace loomwatch::core

namespace loomwatch::ui {

class AppController;
class PreferencesController;
class TrayHost;
class Updater;

// The running desktop application: owns the services (settings, resources, history, notifications,
// the store), the updater, the tray icon and the QML engine, in that order of construction.
class Application : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        // Made-up sessions instead of the user's agents; no history is kept.
        bool demo = false;
    };

    explicit Application(Options options, QObject* parent = nullptr);
    ~Application() override;

    // Loads the windows and shows the dashboard; false when the QML does not load.
    bool load();

    AppController& controller() { return *m_controller; }
    QQmlApplicationEngine& engine() { return *m_engine; }

private:
    std::unique_ptr<core::Services> m_services;
    std::unique_ptr<Updater> m_updater;
    std::unique_ptr<TrayHost> m_tray;
    std::unique_ptr<PreferencesController> m_preferences;
    std::unique_ptr<AppController> m_controller;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
};

// Everything a QML engine needs before it loads the windows: the module's import path, the symbol
// images and the controller.
void prepareEngine(QQmlEngine& engine, AppController& controller);

} // namespace loomwatch::ui
