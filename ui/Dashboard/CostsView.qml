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
    }
}
