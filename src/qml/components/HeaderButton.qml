import QtQuick 2.11
import "../singletons"

// An image button of a window header (close, minimise).
ARectangle {
    id: root

    property string image

    signal clicked()

    color: idMouseArea.containsMouse ? Style.footer_selected_button_bg : "transparent"
    radius: width / 2

    AImage {
        anchors.centerIn: parent
        width: parent.width * 0.5
        height: parent.height * 0.5
        sourceSize.width: width
        sourceSize.height: height
        source: root.image
    }

    AMouseArea {
        id: idMouseArea
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }
}
