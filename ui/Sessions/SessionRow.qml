import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

// One session: tool icon, project and branch over the latest excerpt and the model, tokens and
// estimate, then the state badge and the actions menu. The sheets it opens belong to the window (`actions`), so they outlive the row.
Item {
    id: row

    required property string sessionId
    required property string toolName
    required property string toolSymbol
    required property string projectName
    required property string branch
    required property string snippet
    required property string stateName
    required property string stateSymbol
    required property bool isWaiting
    required property int processId
    required property bool hasProcess
    required property string usageModel
    required property string usageFigures
    required property string usageText
    required property string usageAccessible
    property var actions

    objectName: "sessionRow." + sessionId
    implicitHeight: line.implicitHeight + 12
    implicitWidth: 480

    RowLayout {
        id: line
        anchors.fill: parent
        anchors.topMargin: 6
        anchors.bottomMargin: 6
        spacing: 12

        Rectangle {
            implicitWidth: 28
            implicitHeight: 28
            radius: 7
            color: Theme.quaternary
            Layout.alignment: Qt.AlignVCenter
            SymbolIcon {
                anchors.centerIn: parent
                name: row.toolSymbol
                size: 16
            }
        }

        ColumnLayout {
            spacing: 3
            Layout.fillWidth: true
            Layout.minimumWidth: 80
            Layout.alignment: Qt.AlignVCenter

            // Project and branch share one line; the branch gets at most 40 % of it.
            Item {
                Layout.fillWidth: true
                implicitHeight: projectLabel.implicitHeight
                implicitWidth: 120

                Label {
                    id: projectLabel
                    objectName: "projectName"
                    text: row.projectName
                    font.pixelSize: Theme.body.pixelSize
                    font.weight: Font.DemiBold
                    color: Theme.primary
                    elide: Text.ElideRight
                    maximumLineCount: 1
                    width: Math.min(implicitWidth, parent.width - (branchLabel.visible ? Math.min(branchLabel.implicitWidth, parent.width * 0.4) + 6 : 0))
                }
                Label {
                    id: branchLabel
                    objectName: "branch"
                    visible: row.branch.length > 0
                    text: row.branch
                    font: Theme.caption
                    color: Theme.secondary
                    elide: Text.ElideMiddle
                    maximumLineCount: 1
                    x: projectLabel.width + 6
                    width: Math.max(0, Math.min(implicitWidth, parent.width - x))
                    anchors.baseline: projectLabel.baseline
                }
            }
            Label {
                objectName: "snippet"
                text: row.snippet
                font: Theme.caption
                color: Theme.secondary
                elide: Text.ElideRight
                maximumLineCount: 1
                textFormat: Text.PlainText
                Layout.fillWidth: true
            }
            // The model gives way to the figures, which use fixed-pitch digits so that rows compare at a glance.
            Item {
                id: usageLine
                objectName: "usage"
                readonly property string text: row.usageText
                readonly property bool hasModel: row.usageModel.length > 0
                visible: text.length > 0
                implicitHeight: figures.implicitHeight
                implicitWidth: 120
                Layout.fillWidth: true
                Accessible.role: Accessible.StaticText
                Accessible.name: row.usageAccessible

                Label {
                    id: modelLabel
                    visible: usageLine.hasModel
                    text: row.usageModel
                    font: Theme.caption
                    color: Theme.secondary
                    elide: Text.ElideRight
                    maximumLineCount: 1
                    textFormat: Text.PlainText
                    width: Math.max(0, Math.min(implicitWidth, usageLine.width - (separator.visible ? separator.implicitWidth : 0) - figures.implicitWidth))
                    anchors.baseline: figures.baseline
                    Accessible.ignored: true
                }
                Label {
                    id: separator
                    visible: usageLine.hasModel && row.usageFigures.length > 0
                    text: " \u00B7 "
                    font: Theme.caption
                    color: Theme.secondary
                    x: modelLabel.width
                    anchors.baseline: figures.baseline
                    Accessible.ignored: true
                }
                Label {
                    id: figures
                    text: row.usageFigures
                    font: Theme.monospacedCaption
                    color: Theme.secondary
                    x: usageLine.hasModel ? separator.x + separator.implicitWidth : 0
                    Accessible.ignored: true
                }
            }
        }

        SymbolLabel {
            objectName: "stateBadge"
            text: row.stateName
            symbol: row.stateSymbol
            font: Theme.caption
            color: row.isWaiting ? Theme.orange : Theme.secondary
            Layout.alignment: Qt.AlignVCenter
            Layout.fillWidth: false
        }

        ToolButton {
            id: menuButton
            objectName: "actionsButton"
            implicitWidth: 28
            implicitHeight: 28
            padding: 4
            flat: true
            icon.source: "image://symbol/ellipsis.circle?color=" + encodeURIComponent(Theme.secondary.toString())
            icon.color: "transparent"
            icon.width: 18
            icon.height: 18
            Accessible.name: "Actions"
            Layout.alignment: Qt.AlignVCenter
            onClicked: menu.popup(menuButton, 0, menuButton.height)

            Menu {
                id: menu
                objectName: "actionsMenu"

                MenuItem {
                    objectName: "action.handoff"
                    text: "Generate Handoff"
                    onTriggered: row.actions.requestHandoff(row.sessionId)
                }
                MenuSeparator {
                    visible: row.hasProcess
                    height: visible ? implicitHeight : 0
                }
                MenuItem {
                    objectName: "action.terminate"
                    text: "Terminate Process\u2026"
                    visible: row.hasProcess
                    height: visible ? implicitHeight : 0
                    palette.windowText: Theme.orange
                    onTriggered: row.actions.requestTermination(row.sessionId, row.projectName, row.processId)
                }
            }
        }
    }
}
