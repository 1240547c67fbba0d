#pragma once

#include <QObject>
#include <QRect>
#include <QString>

namespace loomwatch::ui {

// What the application needs of a tray icon. The real one wraps QSystemTrayIcon; tests put a fake
// in its place.
class TrayHost : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Whether the desktop shows tray icons at all; without one the dashboard carries the actions.
    virtual bool isAvailable() const = 0;
    virtual void show() = 0;
    virtual void setIconName(const QString& symbol) = 0;
    virtual void setUpdateCheckEnabled(bool enabled) = 0;

signals:
    // The icon was clicked; `iconGeometry` is where it sits on screen, empty when the host does not say.
    void activated(QRect iconGeometry);
    void openDashboardRequested();
    void refreshRequested();
    void settingsRequested();
    void checkForUpdatesRequested();
    void quitRequested();
};

} // namespace loomwatch::ui
