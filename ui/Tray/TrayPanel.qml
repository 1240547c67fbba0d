import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

// The at-a-glance panel that opens from the tray icon, as a frameless popup beside it.
Window {
    id: panel

    objectName: "trayPanel"
    title: "Loomwatch"
    flags: Qt.Popup | Qt.FramelessWindowHint | Qt.NoDropShadowWindowHint
    width: 330
    height: content.implicitHeight + 20
    color: Theme.window

    function popUp() {
        const position = Backend.panelPosition(width, height)
        x = position.x
        y = position.y
        show()
        raise()
        requestActivate()
    }

    onActiveChanged: if (!active && visible && Qt.platform.pluginName !== "offscreen") close()

    Rectangle {
        anchors.fill: parent
        color: "transparent"
        border.color: Theme.separator
    }

    ColumnLayout {
        id: content
        x: 10
        y: 10
        width: panel.width - 20
        spacing: 8

        RowLayout {
            Layout.fillWidth: true
            Label {
                text: "Loomwatch"
                font: Theme.headline
                color: Theme.primary
            }
            Item { Layout.fillWidth: true }
            Label {
                objectName: "trayPanel.status"
                text: Backend.statusLine
                font: Theme.caption
                color: Theme.secondary
            }
        }

        Divider {}

        Label {
            objectName: "trayPanel.empty"
            visible: Backend.panelSessions.count === 0
            text: "No active agents"
            color: Theme.secondary
            font: Theme.body
        }

        Repeater {
            model: Backend.panelSessions
            delegate: RowLayout {
                required property string shortProjectName
                required property string stateName
                required property string stateSymbol
                required property bool isWaiting
                objectName: "trayPanel.row"
                spacing: 6
                Layout.fillWidth: true
                SymbolIcon {
                    name: stateSymbol
                    color: isWaiting ? Theme.orange : Theme.primary
                    size: 15
                }
                Label {
                    objectName: "trayPanel.rowName"
                    text: shortProjectName
                    font: Theme.body
                    color: Theme.primary
                    maximumLineCount: 1
                    elide: Text.ElideRight
                    Layout.fillWidth: true
                }
                Label {
                    text: stateName
                    font: Theme.caption
                    color: Theme.secondary
                }
            }
        }

        Divider {}

        PanelButton {
            objectName: "trayPanel.openDashboard"
            text: "Open Dashboard"
            onClicked: { panel.close(); Backend.openDashboard() }
        }
        PanelButton {
            objectName: "trayPanel.refresh"
            text: "Refresh"
            onClicked: Backend.refresh()
        }
        PanelButton {
            objectName: "trayPanel.settings"
            text: "Settings\u2026"
            onClicked: { panel.close(); Backend.openSettings() }
        }

        Divider {}

        PanelButton {
            objectName: "trayPanel.quit"
            text: "Quit Loomwatch"
            onClicked: Backend.quit()
        }
    }
}
