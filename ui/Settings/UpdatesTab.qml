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
        RowLayout {
            spacing: 10
            Button {
                objectName: "settings.checkNow"
                text: "Check Now"
                enabled: Backend.updater.signingConfigured && !Backend.updater.checking
                onClicked: Backend.checkForUpdates()
            }
            BusyIndicator {
                visible: Backend.updater.checking
                running: visible
                Layout.preferredHeight: 24
                Layout.preferredWidth: 24
            }
        }
        Label {
            objectName: "settings.updateStatus"
            visible: text.length > 0
            text: Backend.updater.status
            font: Theme.body
            color: Theme.primary
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        Label {
            objectName: "settings.downloadLink"
            visible: Backend.updater.downloadPageUrl.toString().length > 0
            text: "<a href=\"" + Backend.updater.downloadPageUrl + "\">Download page of Loomwatch "
                  + Backend.updater.newerVersion + "</a>"
            textFormat: Text.StyledText
            linkColor: Theme.accent
            font: Theme.body
            onLinkActivated: link => Qt.openUrlExternally(link)
            HoverHandler { cursorShape: Qt.PointingHandCursor }
        }
        Label {
            objectName: "settings.updatesNotice"
            text: Backend.updater.signingConfigured
                  ? "Update information is verified with the release signing key before it is shown."
                  : "Update checks are turned off until a release signing key is configured."
            font: Theme.caption
            color: Backend.updater.signingConfigured ? Theme.secondary : Theme.orange
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }

        Item { Layout.fillHeight: true }
    }
}
