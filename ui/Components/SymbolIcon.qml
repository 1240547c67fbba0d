import QtQuick
import Loomwatch

// A symbol name drawn as a one-colour icon (theme icon or the bundled drawing).
Image {
    id: icon

    property string name
    property color color: Theme.primary
    property int size: 16

    width: size
    height: size
    sourceSize: Qt.size(size, size)
    asynchronous: false
    source: name.length > 0 ? "image://symbol/" + name + "?color=" + encodeURIComponent(color.toString()) : ""
}
