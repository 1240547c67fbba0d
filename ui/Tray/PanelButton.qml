import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

// A full-width, left-aligned command of the tray panel.
ItemDelegate {
    id: button

    implicitHeight: 26
    padding: 0
    leftPadding: 6
    Layout.fillWidth: true
    Accessible.name: text
    background: Rectangle {
        radius: 5
        color: button.hovered ? Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.85) : "transparent"
    }
    contentItem: Label {
        text: button.text
        font: Theme.body
        color: button.hovered ? Theme.palette.highlightedText : Theme.primary
        verticalAlignment: Text.AlignVCenter
    }
}
