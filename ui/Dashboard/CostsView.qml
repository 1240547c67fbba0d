import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

ScrollView {
    id: view

    readonly property string navigationTitle: "Costs"

    objectName: "costs"
    contentWidth: availableWidth
    clip: true

    // The week's figures read every recent transcript: counted only while this view shows.
    Binding {
        target: Backend
        property: "costsShown"
        value: view.visible && view.Window.window !== null && view.Window.window.visible
    }

    ColumnLayout {
        x: 28
        width: Math.min(720, view.availableWidth - 56)
        spacing: 20

        Item { implicitHeight: 8 }

        Label {
            text: "Estimated costs"
            font: Theme.largeTitle
            color: Theme.primary
        }
        Label {
            text: "Token-based estimates use the pricing snapshot bundled with this build."
            font: Theme.body
            color: Theme.secondary
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        Label {
            objectName: "costs.today-total"
            text: Backend.todayCostText
            font: Theme.total
            color: Theme.primary
            Accessible.role: Accessible.StaticText
            Accessible.name: "Estimated cost today"
            Accessible.description: Backend.todayCostText
        }

        Divider {}

        ColumnLayout {
            spacing: 0
            Layout.fillWidth: true
            Repeater {
                model: Backend.costLines
                delegate: Item {
                    required property var modelData
                    objectName: modelData.identifier
                    property string amount: modelData.amount
                    implicitHeight: line.implicitHeight + 12
                    Layout.fillWidth: true
                    Accessible.role: Accessible.StaticText
                    Accessible.name: modelData.accessibleName
                    Accessible.description: modelData.amount

                    RowLayout {
                        id: line
                        anchors.fill: parent
                        anchors.topMargin: 6
                        anchors.bottomMargin: 6
                        SymbolLabel {
                            text: modelData.name
                            symbol: modelData.symbol
                            Layout.fillWidth: true
                        }
                        Label {
                            objectName: "amount"
                            text: modelData.amount
                            font: Theme.body
                            color: Theme.primary
                        }
                    }
                }
            }
        }

        Label {
            text: "Estimates only. Models without a matching price are shown as unknown and contribute $0 to these totals."
            font: Theme.caption
            color: Theme.secondary
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }

        Label {
            text: "Last seven days"
            font: Theme.headline
            color: Theme.primary
            Layout.topMargin: 4
        }
        // One bar per day, oldest first, the tools stacked bottom up in their usual order; each bar is
        // focusable and tells its total on hover or focus and everything to a screen reader.
        Row {
            id: chart
            objectName: "costChart"
            readonly property real barHeight: 140
            spacing: 8
            Layout.fillWidth: true
            Repeater {
                model: Backend.weekCosts
                delegate: Item {
                    id: day
                    required property var modelData
                    required property int index
                    objectName: "costChart.day." + index
                    width: (chart.width - chart.spacing * 6) / 7
                    height: slot.height + labels.height + 6
                    activeFocusOnTab: true
                    Accessible.role: Accessible.StaticText
                    Accessible.name: modelData.accessibleName
                    Accessible.focusable: true
                    ToolTip.visible: hover.hovered || activeFocus
                    ToolTip.text: modelData.total
                    ToolTip.delay: activeFocus ? 0 : 300

                    HoverHandler { id: hover }
                    Rectangle {
                        id: slot
                        width: parent.width
                        height: chart.barHeight
                        radius: 4
                        color: Theme.quaternary
                        border.width: day.activeFocus ? 2 : 0
                        border.color: Theme.accent
                        Repeater {
                            model: day.modelData.segments
                            delegate: Rectangle {
                                required property var modelData
                                x: 2
                                width: slot.width - 4
                                y: slot.height * (1 - modelData.below - modelData.share)
                                height: slot.height * modelData.share
                                color: Theme.toolColors[modelData.tool]
                            }
                        }
                    }
                    Column {
                        id: labels
                        anchors.top: slot.bottom
                        anchors.topMargin: 6
                        width: parent.width
                        Label {
                            text: day.modelData.weekday
                            font: Theme.caption
                            color: Theme.primary
                            width: parent.width
                            horizontalAlignment: Text.AlignHCenter
                            Accessible.ignored: true
                        }
                        Label {
                            text: day.modelData.date
                            font: Theme.caption
                            color: Theme.secondary
                            width: parent.width
                            horizontalAlignment: Text.AlignHCenter
                            Accessible.ignored: true
                        }
                    }
                }
            }
        }
        Flow {
            spacing: 14
            Layout.fillWidth: true
            Repeater {
                model: Backend.costLines
                delegate: Row {
                    required property var modelData
                    spacing: 5
                    Rectangle {
                        width: 10
                        height: 10
                        radius: 2
                        color: Theme.toolColors[modelData.tool]
                        anchors.verticalCenter: parent.verticalCenter
                    }
                    Label {
                        text: modelData.name
                        font: Theme.caption
                        color: Theme.secondary
                    }
                }
            }
        }

        Item { implicitHeight: 8 }
    }
}
