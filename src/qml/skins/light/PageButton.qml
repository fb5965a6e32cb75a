import QtQuick 2.11
import "../../components"
import "../../singletons"

// A page tab of the light skin's header.
ARectangle {
    id: root

    property string text: ""
    property bool isSelected: false

    signal clicked()

    implicitWidth: idText.implicitWidth + Dimensions.x(14)
    implicitHeight: Dimensions.y(30)

    AMontserratText {
        id: idText
        anchors.centerIn: parent
        text: root.text
        demiBold: true
        font.pixelSize: Dimensions.py(11)
        color: root.isSelected ? Style.light_text_color_2 : Style.light_text_color_1
    }
    Rectangle {
        anchors.bottom: parent.bottom
        anchors.horizontalCenter: parent.horizontalCenter
        width: idText.width
        height: 2
        color: Style.light_line_color2
        visible: root.isSelected
    }
    AMouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }
}
