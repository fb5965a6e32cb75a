import QtQuick 2.11
import "../singletons"

// Back button and caption on top of a selector.
Item {
    id: root

    property var selector: null
    property alias rightActionItem: idRight.data

    height: Style.standart_header_height

    Item {
        id: idBack
        visible: selector && selector.topBackButtonVisible
        width: height
        height: parent.height
        anchors.left: parent.left
        anchors.leftMargin: Dimensions.x(8)

        AImage {
            anchors.centerIn: parent
            width: Dimensions.x(18)
            height: width
            rotation: 90
            source: Resources.svg("path")
            sourceSize.width: width
            sourceSize.height: height
        }
        AMouseArea {
            objectName: "SelectorBackButton"
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: selector.doLocalBack()
        }
    }

    AMontserratText {
        anchors.centerIn: parent
        width: parent.width - 2 * (idBack.width + Dimensions.x(8))
        horizontalAlignment: Text.AlignHCenter
        elide: Text.ElideRight
        text: selector ? selector.caption : ""
        color: selector ? selector.text_color : Style.text_color_1
        demiBold: true
        font.pixelSize: selector ? selector.captionTextSize : Dimensions.py(17)
    }

    Item {
        id: idRight
        width: height
        height: parent.height
        anchors.right: parent.right
        anchors.rightMargin: Dimensions.x(8)
    }

    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: selector ? selector.back_line_color : Style.lineColor
    }
}
