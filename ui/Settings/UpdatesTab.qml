import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

Item {
    objectName: "settings.updates"

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 20
        spacing: 10

        Switch {
            objectName: "settings.automaticChecks"
            text: "Automatically check for updates"
            enabled: Backend.updater.signingConfigured
            checked: Backend.updater.automaticallyChecksForUpdates
            onToggled: Backend.updater.automaticallyChecksForUpdates = checked
        }
        Button {
            objectName: "settings.checkNow"
            text: "Check Now"
            enabled: Backend.updater.signingConfigured
            onClicked: Backend.checkForUpdates()
        }
        Label {
            objectName: "settings.updatesNotice"
            text: Backend.updater.signingConfigured
                  ? "Updates are verified with Sparkle signatures and the app\u2019s Developer ID signature."
                  : "Update signing is intentionally disabled until the production Sparkle public key is configured."
            font: Theme.caption
            color: Backend.updater.signingConfigured ? Theme.secondary : Theme.orange
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }

        Item { Layout.fillHeight: true }
    }
}
