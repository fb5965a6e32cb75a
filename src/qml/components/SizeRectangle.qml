import QtQuick 2.11
import "../singletons"

// Writes its own size, "width x height" in whole pixels, for checking the
// scale of a layout.
ARectangle {
    id: root

    property color textColor: "red"
    readonly property string sizeText: Math.round(width) + " x " + Math.round(height)

    border.width: 1
    border.color: textColor

    Text {
        objectName: "SizeRectangle_text"
        anchors.centerIn: parent
        color: root.textColor
        font.pixelSize: Math.max(8, Math.min(root.height / 2, 12))
        text: root.sizeText
    }
}
