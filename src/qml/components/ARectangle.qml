import QtQuick 2.11
import "../singletons"

Rectangle {
    // Outlines the rectangle, for layout work.
    property bool debug: false

    color: "transparent"
    border.width: (debug || Debug.drawRects) ? 1 : 0
    border.color: "red"
}
