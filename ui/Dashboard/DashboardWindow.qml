import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

ApplicationWindow {
    id: window

    // The sidebar selection; empty shows the overview.
    property string section: "overview"
    readonly property string shownSection: section.length > 0 ? section : "overview"
    property bool started: false

    objectName: "dashboard"
    title: "Loomwatch"
    width: 1120
    height: 760
    minimumWidth: 920
    minimumHeight: 620
    flags: Backend.showInTaskbar ? Qt.Window : Qt.Tool
    color: Theme.window

    function bringForward() {
        if (started && !visible) {
            // Every opening starts afresh: the overview, no search.
            section = "overview"
            Backend.sessions.search = ""
        }
        show()
        raise()
        requestActivate()
    }

    // `sessionId`: the session to bring into view on Sessions (may be empty).
    function showSection(name, sessionId) {
        section = name
        if (name === "sessions" && sessionId)
            sessionsView.reveal(sessionId)
    }

    function focusSearch() {
        section = "sessions"
        sessionsView.focusSearch()
    }

    onVisibleChanged: {
        if (!visible)
            return
        if (!started) {
            started = true
            Backend.start()
            if (Backend.showOnboarding)
                onboarding.open()
        }
        // A message that arrived while the window was closed.
        if (Backend.hasError)
            errorAlert.open()
    }

    Shortcut { sequence: "Ctrl+Q"; context: Qt.ApplicationShortcut; onActivated: Backend.quit() }
    Shortcut { sequence: "Ctrl+,"; onActivated: Backend.openSettings() }
    Shortcut { sequence: "Ctrl+R"; onActivated: Backend.refresh() }
    Shortcut { sequence: "Ctrl+F"; onActivated: window.focusSearch() }
    Shortcut { sequence: "Ctrl+1"; onActivated: window.section = "overview" }
    Shortcut { sequence: "Ctrl+2"; onActivated: window.section = "sessions" }
    Shortcut { sequence: "Ctrl+3"; onActivated: window.section = "costs" }
    Shortcut { sequence: "Ctrl+4"; onActivated: window.section = "diagnostics" }

    menuBar: MenuBar {
        Menu {
            title: "Loomwatch"
            MenuItem {
                objectName: "menu.checkForUpdates"
                text: "Check for Updates\u2026"
                enabled: Backend.updater.signingConfigured
                onTriggered: Backend.checkForUpdates()
            }
            MenuSeparator {}
            MenuItem {
                text: "Refresh"
                onTriggered: Backend.refresh()
            }
            MenuItem {
                text: "Settings\u2026"
                onTriggered: Backend.openSettings()
            }
            MenuSeparator {}
            MenuItem {
                text: "Quit Loomwatch"
                onTriggered: Backend.quit()
            }
        }
    }

    SplitView {
        anchors.fill: parent
        orientation: Qt.Horizontal

        Sidebar {
            SplitView.minimumWidth: 180
            SplitView.preferredWidth: 210
            SplitView.maximumWidth: 320
            section: window.section
            onSelected: name => window.section = name
        }

        ColumnLayout {
            SplitView.fillWidth: true
            SplitView.minimumWidth: 500
            spacing: 0

            ToolBar {
                Layout.fillWidth: true
                background: Rectangle {
                    color: Theme.window
                    Divider { anchors.bottom: parent.bottom; width: parent.width }
                }
                RowLayout {
                    anchors.fill: parent
                    anchors.leftMargin: 16
                    anchors.rightMargin: 8
                    Label {
                        objectName: "navigationTitle"
                        text: window.shownSection === "overview" ? "" : detail.currentItem ? detail.currentItem.navigationTitle : ""
                        font: Theme.headline
                        color: Theme.primary
                        Layout.fillWidth: true
                    }
                    ToolButton {
                        objectName: "toolbar.refresh"
                        text: "Refresh"
                        display: AbstractButton.TextBesideIcon
                        icon.source: "image://symbol/arrow.clockwise?color=" + encodeURIComponent(Theme.primary.toString())
                        icon.color: "transparent"
                        enabled: !Backend.isRefreshing
                        Accessible.name: "Refresh"
                        onClicked: Backend.refresh()
                    }
                }
            }

            StackLayout {
                id: detail
                readonly property var sections: ["overview", "sessions", "costs", "diagnostics"]
                readonly property Item currentItem: children[currentIndex] || null
                Layout.fillWidth: true
                Layout.fillHeight: true
                currentIndex: Math.max(0, sections.indexOf(window.shownSection))

                OverviewView { actions: sessionActions }
                SessionsView { id: sessionsView; actions: sessionActions }
                CostsView {}
                DiagnosticsView {}
            }
        }
    }

    SessionActions { id: sessionActions }

    OnboardingSheet { id: onboarding }

    ErrorAlert { id: errorAlert }

    Connections {
        target: Backend
        function onErrorMessageChanged() {
            if (Backend.hasError && window.visible)
                errorAlert.open()
        }
    }
}
