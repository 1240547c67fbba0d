import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

Window {
    id: window

    objectName: "settings"
    title: "Settings"
    width: 620
    height: 520
    minimumWidth: 620
    maximumWidth: 620
    minimumHeight: 520
    maximumHeight: 520
    flags: Backend.showInTaskbar ? Qt.Window : Qt.Tool
    color: Theme.window

    property alias currentTab: tabs.currentIndex

    // `tab`: "updates", or empty to keep the tab shown last.
    function bringForward(tab) {
        if (tab === "updates")
            tabs.currentIndex = 2
        if (!visible) {
            // A reopened window starts afresh: the files as saved, no old message.
            Backend.preferences.reload()
        }
        show()
        raise()
        requestActivate()
    }

    Shortcut { sequence: "Escape"; onActivated: window.close() }
    Shortcut { sequence: "Ctrl+Q"; onActivated: Backend.quit() }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        TabBar {
            id: tabs
            objectName: "settings.tabs"
            Layout.fillWidth: true
            TabButton {
                text: "General"
                icon.source: "image://symbol/gear?color=" + encodeURIComponent(Theme.primary.toString())
                icon.color: "transparent"
            }
            TabButton {
                text: "Tools"
                icon.source: "image://symbol/slider.horizontal.3?color=" + encodeURIComponent(Theme.primary.toString())
                icon.color: "transparent"
            }
            TabButton {
                text: "Updates"
                icon.source: "image://symbol/arrow.triangle.2.circlepath?color=" + encodeURIComponent(Theme.primary.toString())
                icon.color: "transparent"
            }
        }

        StackLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: tabs.currentIndex
            onCurrentIndexChanged: if (currentIndex === 1 && window.visible) Backend.preferences.loadEditors()

            GeneralTab {}
            ToolsTab {}
            UpdatesTab {}
        }
    }
}
