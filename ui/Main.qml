import QtQuick
import Loomwatch

// The application's three windows. The dashboard opens at launch; the tray panel and the settings
// window open on request.
QtObject {
    id: app

    property DashboardWindow dashboard: DashboardWindow {}
    property TrayPanel panel: TrayPanel {}
    property SettingsWindow settings: SettingsWindow {}

    property Connections requests: Connections {
        target: Backend
        function onDashboardRequested() { app.dashboard.bringForward() }
        function onSettingsRequested() { app.settings.bringForward() }
        function onPanelRequested() { app.panel.popUp() }
    }

    Component.onCompleted: dashboard.bringForward()
}
