import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

Item {
    objectName: "settings.general"

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 20
        spacing: 10

        Switch {
            objectName: "settings.showDockIcon"
            text: "Show in taskbar"
            checked: Backend.preferences.showDockIcon
            onToggled: Backend.preferences.showDockIcon = checked
        }
        Switch {
            objectName: "settings.openDashboardAtLaunch"
            text: "Open dashboard when Loomwatch launches"
            checked: Backend.preferences.openDashboardAtLaunch
            onToggled: Backend.preferences.openDashboardAtLaunch = checked
        }
        Switch {
            objectName: "settings.launchAtLogin"
            text: "Open Loomwatch at login"
            checked: Backend.preferences.launchAtLogin
            onToggled: Backend.preferences.launchAtLogin = checked
        }
        Switch {
            objectName: "settings.playNotificationSounds"
            text: "Play notification sounds"
            checked: Backend.preferences.playNotificationSounds
            onToggled: Backend.preferences.playNotificationSounds = checked
        }

        Label {
            text: "Loomwatch is free. All supported providers and local tools are included."
            font: Theme.caption
            color: Theme.secondary
            wrapMode: Text.Wrap
            Layout.fillWidth: true
            Layout.topMargin: 8
        }
        Label {
            objectName: "settings.supportLink"
            text: "<a href=\"" + Backend.preferences.supportUrl + "\">Support Loomwatch</a>"
            textFormat: Text.StyledText
            linkColor: Theme.accent
            font: Theme.caption
            onLinkActivated: link => Qt.openUrlExternally(link)
            HoverHandler { cursorShape: Qt.PointingHandCursor }
        }

        Item { Layout.fillHeight: true }
    }
}
