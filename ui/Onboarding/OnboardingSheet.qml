import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

// First-run sheet over the dashboard. The only way out is its button.
Dialog {
    id: sheet

    objectName: "onboarding"
    parent: Overlay.overlay
    anchors.centerIn: parent
    width: 660
    height: 520
    modal: true
    padding: 32
    closePolicy: Popup.NoAutoClose

    function complete() {
        Backend.completeOnboarding()
        close()
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 22

        SymbolIcon {
            name: "circle.hexagongrid.fill"
            color: Theme.accent
            size: 46
        }

        ColumnLayout {
            spacing: 8
            Layout.fillWidth: true
            Label {
                text: "Never lose track of an agent again"
                font: Theme.largeTitle
                color: Theme.primary
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            Label {
                text: "Loomwatch monitors local coding sessions. Transcript content stays on this computer."
                font: Theme.title3
                color: Theme.secondary
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
        }

        ColumnLayout {
            objectName: "onboarding.tools"
            spacing: 8
            Layout.fillWidth: true
            Repeater {
                model: Backend.probes
                delegate: SymbolLabel {
                    required property var modelData
                    objectName: "onboarding.tool." + modelData.tool
                    text: modelData.name + " \u2014 " + (modelData.installed ? "Detected" : "Not detected")
                    symbol: modelData.installed ? "checkmark.circle.fill" : "circle"
                    color: modelData.installed ? Theme.primary : Theme.secondary
                    Layout.fillWidth: true
                }
            }
        }

        Label {
            text: "All providers, cost estimates, and local handoffs are included."
            font: Theme.caption
            color: Theme.secondary
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }

        Item { Layout.fillHeight: true }

        RowLayout {
            Layout.fillWidth: true
            Item { Layout.fillWidth: true }
            Button {
                objectName: "onboarding.continue"
                text: "Enable Notifications and Continue"
                highlighted: true
                onClicked: sheet.complete()
            }
        }
    }

    Shortcut {
        sequences: ["Return", "Enter"]
        enabled: sheet.opened
        onActivated: sheet.complete()
    }
}
