import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

Dialog {
    id: dialog

    property string sessionId
    // What the question shows; the controller looks the process up again when it is answered.
    property string projectName
    property int processId: 0

    objectName: "terminateDialog"
    parent: Overlay.overlay
    anchors.centerIn: parent
    width: 420
    modal: true
    title: Backend.terminationTitle(projectName)

    Label {
        objectName: "terminateDialog.message"
        text: Backend.terminationMessage(dialog.processId)
        wrapMode: Text.Wrap
        width: dialog.availableWidth
        color: Theme.primary
    }

    footer: DialogButtonBox {
        Button {
            objectName: "terminateDialog.cancel"
            text: "Cancel"
            DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
        }
        Button {
            objectName: "terminateDialog.terminate"
            text: "Terminate"
            DialogButtonBox.buttonRole: DialogButtonBox.DestructiveRole
            palette.buttonText: Theme.orange
            onClicked: {
                dialog.close()
                Backend.terminate(dialog.sessionId)
            }
        }
    }
}
