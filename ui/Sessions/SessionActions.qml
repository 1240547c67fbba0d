import QtQuick
import Loomwatch

// The handoff sheet and the termination confirmation of every session row in one window. They keep
// what they show when the session leaves the list meanwhile.
Item {
    id: actions

    property alias handoffPreview: handoffPreview
    property alias terminateDialog: terminateDialog

    HandoffPreview { id: handoffPreview }
    TerminateDialog { id: terminateDialog }

    function requestHandoff(sessionId) {
        const text = Backend.generateHandoff(sessionId)
        if (text === undefined)
            return
        handoffPreview.text = text
        handoffPreview.open()
    }

    function requestTermination(sessionId, projectName, processId) {
        terminateDialog.sessionId = sessionId
        terminateDialog.projectName = projectName
        terminateDialog.processId = processId
        terminateDialog.open()
    }
}
