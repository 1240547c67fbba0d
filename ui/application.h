#pragma once

#include <QObject>
#include <QQmlApplicationEngine>
#include <QTemporaryDir>

#include <memory>

namespace loomwatch::core {
struct Services;
} // namespace loomwatch::core

namespace loomwatch::ui {

class AppController;
class PreferencesController;
class SingleInstance;
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
        // Made-up sessions instead of the user's agents, with a settings file and data folder of their
        // own (gone when it ends); no history is kept.
        bool demo = false;
    };

    explicit Application(Options options, QObject* parent = nullptr);
    ~Application() override;

    // Loads the windows (the dashboard shows unless the user chose to start in the tray) and starts
    // the automatic update checks; false when the QML does not load.
    bool load();
    // Another launch, the desktop or a notification's click reaching `instance` opens the dashboard.
    void serve(SingleInstance& instance);

    AppController& controller() { return *m_controller; }
    QQmlApplicationEngine& engine() { return *m_engine; }

private:
    std::unique_ptr<QTemporaryDir> m_demoFolder;
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
