import QtQuick 2.11
import "../singletons"

// Outlines its parent's bounds while rectangles are drawn for layout work
// (Debug.drawRects, or "debug" set on the item itself).
Rectangle {
    property bool debug: false

    anchors.fill: parent
    visible: debug || Debug.drawRects
    color: "transparent"
    border.width: 1
    border.color: "magenta"
    z: 1000
}
