import QtQuick
import QtQuick.Layouts
import QtQuick.Controls
import Loomwatch

// A centred placeholder: a large symbol, a title and a description.
Item {
    id: empty

    property string title
    property string symbol
    property string description

    implicitHeight: column.implicitHeight + 48
    implicitWidth: column.implicitWidth + 48

    ColumnLayout {
        id: column
        anchors.centerIn: parent
        width: Math.min(parent.width - 48, 420)
        spacing: 8

        SymbolIcon {
            name: empty.symbol
            color: Theme.secondary
            size: 40
            Layout.alignment: Qt.AlignHCenter
        }
        Label {
            text: empty.title
            font: Theme.title2
            color: Theme.primary
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        Label {
            text: empty.description
            visible: text.length > 0
            font: Theme.body
            color: Theme.secondary
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
    }
}
