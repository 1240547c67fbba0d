import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

Rectangle {
    id: sidebar

    property string section
    signal selected(string name)

    color: Theme.sidebar
    implicitWidth: 210

    ListView {
        id: list
        anchors.fill: parent
        anchors.topMargin: 10
        anchors.leftMargin: 8
        anchors.rightMargin: 8
        spacing: 2
        interactive: false
        model: [
            { name: "overview", title: "Overview", symbol: "square.grid.2x2" },
            { name: "sessions", title: "Sessions", symbol: "terminal" },
            { name: "costs", title: "Costs", symbol: "dollarsign.circle" },
            { name: "diagnostics", title: "Diagnostics", symbol: "stethoscope" }
        ]
        delegate: ItemDelegate {
            required property var modelData
            readonly property bool current: sidebar.section === modelData.name

            objectName: "sidebar." + modelData.name
            width: ListView.view.width
            height: 30
            padding: 0
            Accessible.name: modelData.title
            Accessible.role: Accessible.ListItem
            background: Rectangle {
                radius: 6
                color: parent.current ? Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, Theme.dark ? 0.35 : 0.18)
                                      : parent.hovered ? Theme.quaternary : "transparent"
            }
            contentItem: SymbolLabel {
                anchors.fill: parent
                anchors.leftMargin: 10
                text: modelData.title
                symbol: modelData.symbol
                color: parent.current ? Theme.primary : Theme.primary
                iconSize: 16
            }
            // Clicking the selected section again clears the selection (the overview shows).
            onClicked: sidebar.selected(current ? "" : modelData.name)
        }
    }
}
