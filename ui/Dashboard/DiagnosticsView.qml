import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

ScrollView {
    id: view

    readonly property string navigationTitle: "Diagnostics"

    objectName: "diagnostics"
    contentWidth: availableWidth
    clip: true

    component SectionHeader: Label {
        font: Theme.headline
        color: Theme.secondary
        topPadding: 14
        Layout.fillWidth: true
    }

    component Panel: Rectangle {
        default property alias content: column.data
        radius: 8
        color: Theme.regularMaterial
        border.color: Theme.separator
        implicitHeight: column.implicitHeight + 16
        Layout.fillWidth: true
        ColumnLayout {
            id: column
            x: 12
            y: 8
            width: parent.width - 24
            spacing: 0
        }
    }

    component ValueRow: RowLayout {
        property string title
        property string value
        Layout.fillWidth: true
        Layout.topMargin: 4
        Layout.bottomMargin: 4
        Label { text: title; font: Theme.body; color: Theme.primary; Layout.fillWidth: true }
        Label { objectName: "value"; text: value; font: Theme.body; color: Theme.secondary }
    }

    ColumnLayout {
        x: 28
        width: Math.min(760, view.availableWidth - 56)
        spacing: 6

        Item { implicitHeight: 8 }

        SectionHeader { text: "Provider support" }
        Panel {
            objectName: "diagnostics.providers"
            Repeater {
                model: Backend.probes
                delegate: RowLayout {
                    required property var modelData
                    objectName: "diagnostics.probe." + modelData.tool
                    spacing: 12
                    Layout.fillWidth: true
                    Layout.topMargin: 4
                    Layout.bottomMargin: 4
                    SymbolIcon {
                        name: modelData.installed ? "checkmark.circle.fill" : "minus.circle"
                        color: modelData.installed ? Theme.green : Theme.secondary
                        size: 18
                        Layout.alignment: Qt.AlignVCenter
                    }
                    ColumnLayout {
                        spacing: 2
                        Layout.fillWidth: true
                        Label { text: modelData.name; font.pixelSize: Theme.body.pixelSize; font.weight: Font.Medium; color: Theme.primary }
                        Label {
                            text: modelData.detectedPath
                            font: Theme.caption
                            color: Theme.secondary
                            elide: Text.ElideMiddle
                            Layout.fillWidth: true
                        }
                        Label {
                            objectName: "lastError"
                            visible: modelData.hasError
                            text: modelData.lastError
                            font: Theme.caption
                            color: Theme.orange
                            wrapMode: Text.Wrap
                            Layout.fillWidth: true
                        }
                    }
                    Label {
                        objectName: "supportLevel"
                        text: modelData.supportLevel
                        font: Theme.caption
                        color: Theme.secondary
                        Layout.alignment: Qt.AlignVCenter
                    }
                }
            }
        }

        SectionHeader { text: "Refresh" }
        Panel {
            ValueRow { objectName: "diagnostics.lastCompleted"; title: "Last completed"; value: Backend.lastRefreshText }
            Divider {}
            ValueRow { objectName: "diagnostics.sessionCount"; title: "Sessions in memory"; value: Backend.sessionCount }
            Divider {}
            ValueRow { objectName: "diagnostics.retention"; title: "History retention"; value: "7 days" }
        }

        SectionHeader { text: "Privacy" }
        Panel {
            Label {
                text: "Loomwatch stores normalized metadata only. Full transcripts are read on demand and are never uploaded."
                font: Theme.body
                color: Theme.primary
                wrapMode: Text.Wrap
                Layout.fillWidth: true
                Layout.topMargin: 4
                Layout.bottomMargin: 4
            }
            Divider {}
            Label {
                text: "OpenCode credential and account tables are never queried."
                font: Theme.body
                color: Theme.primary
                wrapMode: Text.Wrap
                Layout.fillWidth: true
                Layout.topMargin: 4
                Layout.bottomMargin: 4
            }
        }

        Item { implicitHeight: 16 }
    }
}
