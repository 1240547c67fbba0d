import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

Item {
    id: view

    property var actions
    readonly property string navigationTitle: "Sessions"

    objectName: "sessions"

    function focusSearch() {
        search.forceActiveFocus()
        search.selectAll()
    }

    // Scrolls to the session and marks it; the search must already let it through.
    function reveal(sessionId) {
        list.forceLayout()
        const row = Backend.sessions.indexOf(sessionId)
        list.currentIndex = row
        if (row >= 0)
            list.positionViewAtIndex(row, ListView.Contain)
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        TextField {
            id: search
            objectName: "sessions.search"
            placeholderText: "Project, tool, or branch"
            text: Backend.sessions.search
            Accessible.name: "Search"
            Layout.fillWidth: true
            Layout.margins: 12
            onTextEdited: Backend.sessions.search = text
        }

        Divider {}

        ListView {
            id: list
            objectName: "sessions.list"
            model: Backend.sessions
            clip: true
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.preferredWidth: 600
            // Reusing rows keeps typing in the search field cheap when the list widens again.
            reuseItems: true
            currentIndex: -1
            highlightFollowsCurrentItem: true
            highlightMoveDuration: 0
            highlight: Rectangle { color: Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.15) }
            ScrollBar.vertical: ScrollBar {}
            delegate: ColumnLayout {
                id: cell
                required property var model
                property bool pooled: false
                width: ListView.view.width
                spacing: 0
                visible: !pooled
                ListView.onPooled: pooled = true
                ListView.onReused: pooled = false
                SessionRow {
                    sessionId: cell.model.sessionId
                    toolName: cell.model.toolName
                    toolSymbol: cell.model.toolSymbol
                    projectName: cell.model.projectName
                    branch: cell.model.branch
                    snippet: cell.model.snippet
                    stateName: cell.model.stateName
                    stateSymbol: cell.model.stateSymbol
                    isWaiting: cell.model.isWaiting
                    processId: cell.model.processId
                    hasProcess: cell.model.hasProcess
                    usageModel: cell.model.usageModel
                    usageFigures: cell.model.usageFigures
                    usageText: cell.model.usageText
                    usageAccessible: cell.model.usageAccessible
                    actions: view.actions
                    Layout.fillWidth: true
                    Layout.leftMargin: 16
                    Layout.rightMargin: 12
                }
                Divider { Layout.leftMargin: 56 }
            }
        }
    }

    EmptyState {
        objectName: "sessions.empty"
        anchors.centerIn: parent
        width: parent.width
        visible: Backend.sessions.count === 0
        symbol: "magnifyingglass"
        title: search.text.length > 0 ? "No Results for \u201C" + search.text + "\u201D" : "No Results"
        description: "Check the spelling or try a new search."
    }
}
