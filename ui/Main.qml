import QtQuick
import Loomwatch

// The application's three windows. The dashboard opens at launch (unless the user chose to start in
// the tray); the tray panel and the settings window open on request.
QtObject {
    id: app

    property DashboardWindow dashboard: DashboardWindow {}
    property TrayPanel panel: TrayPanel {}
    property SettingsWindow settings: SettingsWindow {}

    property Connections requests: Connections {
        target: Backend
        function onDashboardRequested() { app.dashboard.bringForward() }
        function onSectionRequested(section, sessionId) {
            app.dashboard.bringForward()
            app.dashboard.showSection(section, sessionId)
        }
        function onSettingsRequested(tab) { app.settings.bringForward(tab) }
        function onPanelRequested() { app.panel.popUp() }
    }

    Component.onCompleted: {
        Backend.start()
        if (Backend.openDashboardAtLaunch)
            dashboard.bringForward()
    }
}
