import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

ScrollView {
    id: overview

    property var actions
    readonly property string navigationTitle: ""

    objectName: "overview"
    contentWidth: availableWidth
    clip: true

    ColumnLayout {
        width: overview.availableWidth - 56
        x: 28
        spacing: 22

        Item { implicitHeight: 6 }

        ColumnLayout {
            spacing: 6
            Layout.fillWidth: true
            Label {
                text: "Mission control"
                font: Theme.largeTitle
                color: Theme.primary
            }
            Label {
                text: "Every coding agent on this computer, in one place."
                font: Theme.title3
                color: Theme.secondary
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
        }

        RowLayout {
            spacing: 14
            Layout.fillWidth: true

            MetricCard {
                objectName: "metric.working"
                title: "Working"
                value: Backend.workingCount
                symbol: "bolt.fill"
                Layout.fillWidth: true
                Layout.preferredWidth: 1
            }
            MetricCard {
                objectName: "metric.waiting"
                title: "Waiting"
                value: Backend.waitingCount
                symbol: "person.crop.circle.badge.exclamationmark"
                Layout.fillWidth: true
                Layout.preferredWidth: 1
            }
            MetricCard {
                objectName: "metric.active"
                title: "Active"
                value: Backend.activeCount
                symbol: "terminal"
                Layout.fillWidth: true
                Layout.preferredWidth: 1
            }
            MetricCard {
                objectName: "metric.today"
                title: "Today"
                value: Backend.todayCostText
                symbol: "dollarsign"
                Layout.fillWidth: true
                Layout.preferredWidth: 1
            }
        }

        Label {
            text: "Needs attention"
            font: Theme.title2
            color: Theme.primary
        }

        EmptyState {
            objectName: "attention.empty"
            visible: Backend.attention.count === 0
            title: "No active agents"
            symbol: "moon.zzz"
            description: "Loomwatch will update automatically when a supported session starts."
            Layout.fillWidth: true
            Layout.minimumHeight: 260
        }

        ColumnLayout {
            objectName: "attention.list"
            visible: Backend.attention.count > 0
            spacing: 10
            Layout.fillWidth: true

            Repeater {
                model: Backend.attention
                delegate: SessionRow {
                    actions: overview.actions
                    Layout.fillWidth: true
                }
            }
        }

        Item { implicitHeight: 6 }
    }
}
