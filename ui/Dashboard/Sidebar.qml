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
        activeFocusOnTab: true
        currentIndex: sections.indexOf(sidebar.section)
        readonly property var sections: ["overview", "sessions", "costs", "diagnostics"]
        Keys.onUpPressed: if (currentIndex > 0) sidebar.selected(sections[currentIndex - 1])
        Keys.onDownPressed: if (currentIndex < sections.length - 1) sidebar.selected(sections[currentIndex + 1])
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
                border.width: parent.current && list.activeFocus ? 1 : 0
                border.color: Theme.accent
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
            // The list keeps the keyboard focus, so the arrow keys go on from the clicked section.
            focusPolicy: Qt.NoFocus
            onClicked: {
                list.forceActiveFocus()
                sidebar.selected(modelData.name)
            }
        }
    }
}
