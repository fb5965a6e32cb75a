import QtQuick 2.11
import "../../components"
import "../../singletons"

// The rounded panel the standard skin groups things on.
ARectangle {
    id: root

    property int horizontalMargins: Dimensions.x(16)
    property int verticalMargins: Dimensions.y(12)
    property bool canBeClicked: false

    signal clicked()

    color: idMouseArea.containsMouse && canBeClicked ? Qt.lighter(Style.grayRectColor, 1.6) : Style.grayRectColor
    radius: Dimensions.x(8)
    border.width: Style.lightSkinType ? 1 : 0
    border.color: Style.lineColor

    AMouseArea {
        id: idMouseArea
        anchors.fill: parent
        z: -1
        enabled: root.canBeClicked
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }
}
