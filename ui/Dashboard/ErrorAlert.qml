import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

// The store's error line. Closing it in any way clears the message.
Dialog {
    id: alert

    objectName: "errorAlert"
    title: "Loomwatch"
    parent: Overlay.overlay
    anchors.centerIn: parent
    modal: true
    width: Math.min(420, parent ? parent.width - 40 : 420)
    z: 10

    Label {
        objectName: "errorAlert.message"
        text: Backend.errorMessage
        wrapMode: Text.Wrap
        width: alert.availableWidth
        color: Theme.primary
    }

    footer: DialogButtonBox {
        Button {
            objectName: "errorAlert.ok"
            text: "OK"
            DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
        }
    }

    onClosed: Backend.dismissError()
}
