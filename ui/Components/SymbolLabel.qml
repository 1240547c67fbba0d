import QtQuick
import QtQuick.Layouts
import QtQuick.Controls
import Loomwatch

// An icon followed by a text, both in one colour.
RowLayout {
    id: label

    property string text
    property string symbol
    property color color: Theme.primary
    property font font: Theme.body
    property int iconSize: Math.round(font.pixelSize * 1.15)
    property alias elide: textItem.elide

    spacing: 6

    SymbolIcon {
        name: label.symbol
        color: label.color
        size: label.iconSize
        Layout.alignment: Qt.AlignVCenter
    }
    Label {
        id: textItem
        text: label.text
        color: label.color
        font: label.font
        Layout.fillWidth: true
        Layout.alignment: Qt.AlignVCenter
    }
}
