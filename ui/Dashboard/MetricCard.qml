import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

// One figure of the overview: a titled symbol over a large value, on a rounded card.
Rectangle {
    id: card

    property string title
    property string value
    property string symbol

    implicitHeight: column.implicitHeight + 32
    implicitWidth: column.implicitWidth + 32
    radius: 12
    color: Theme.regularMaterial
    border.color: Theme.separator
    border.width: Theme.dark ? 0 : 1

    Accessible.role: Accessible.StaticText
    Accessible.name: title + ", " + value

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 16
        spacing: 8

        SymbolLabel {
            text: card.title
            symbol: card.symbol
            color: Theme.secondary
            Layout.fillWidth: true
        }
        Label {
            objectName: "metricValue"
            text: card.value
            font: Theme.metric
            color: Theme.primary
            elide: Text.ElideRight
            Layout.fillWidth: true
        }
    }
}
