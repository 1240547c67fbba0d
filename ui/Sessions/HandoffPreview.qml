import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

Dialog {
    id: sheet

    property alias text: editor.text

    objectName: "handoffPreview"
    parent: Overlay.overlay
    anchors.centerIn: parent
    width: 720
    height: 560
    modal: true
    padding: 20
    closePolicy: Popup.CloseOnEscape

    function copyAndClose() {
        Backend.copyToClipboard(editor.text)
        close()
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 14

        Label {
            text: "Continuation handoff"
            font: Theme.title2
            color: Theme.primary
        }
        Label {
            text: "Review the locally generated prompt before copying it."
            color: Theme.secondary
            font: Theme.body
        }
        ScrollView {
            Layout.fillWidth: true
            Layout.fillHeight: true
            background: Rectangle {
                color: Theme.background
                border.color: Theme.separator
                border.width: 1
            }
            TextArea {
                id: editor
                objectName: "handoffPreview.editor"
                font: Theme.monospaced
                color: Theme.primary
                wrapMode: TextEdit.Wrap
                selectByMouse: true
                background: null
                Keys.onPressed: event => {
                    if ((event.key === Qt.Key_Return || event.key === Qt.Key_Enter) && (event.modifiers & Qt.ControlModifier)) {
                        sheet.copyAndClose()
                        event.accepted = true
                    }
                }
            }
        }
        RowLayout {
            Layout.fillWidth: true
            Item { Layout.fillWidth: true }
            Button {
                objectName: "handoffPreview.cancel"
                text: "Cancel"
                onClicked: sheet.close()
            }
            Button {
                objectName: "handoffPreview.copy"
                text: "Copy"
                highlighted: true
                onClicked: sheet.copyAndClose()
            }
        }
    }

    // Return copies unless the editor has the focus (where it starts a new line; Ctrl+Return copies).
    Shortcut {
        sequences: ["Return", "Enter"]
        enabled: sheet.opened && !editor.activeFocus
        onActivated: sheet.copyAndClose()
    }
}
