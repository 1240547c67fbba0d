import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

// A collapsible group holding one monospaced multi-line editor, 150 points high.
ColumnLayout {
    id: group

    property string title
    property alias text: editor.text
    property bool expanded: true
    property alias editor: editor

    spacing: 6
    Layout.fillWidth: true

    ToolButton {
        objectName: group.objectName + ".toggle"
        text: (group.expanded ? "\u25BE  " : "\u25B8  ") + group.title
        font: Theme.headline
        padding: 2
        flat: true
        onClicked: group.expanded = !group.expanded
    }
    ScrollView {
        visible: group.expanded
        Layout.fillWidth: true
        Layout.preferredHeight: 150
        background: Rectangle {
            color: Theme.background
            border.color: Theme.separator
        }
        TextArea {
            id: editor
            objectName: group.objectName + ".editor"
            font: Theme.monospacedCaption
            color: Theme.primary
            selectByMouse: true
            wrapMode: TextEdit.NoWrap
            background: null
        }
    }
}
