import QtQuick
import QtQuick.Layouts
import Loomwatch

Rectangle {
    implicitHeight: 1
    Layout.fillWidth: true
    color: Theme.separator
}
