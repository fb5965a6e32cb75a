import QtQuick 2.11
import "../singletons"

// A round check mark followed by its text. A click only asks (clicked());
// the owner changes the value it binds "checked" to.
ARectangle {
    id: root

    property bool checked: false
    property int textMargin: Dimensions.x(12)
    property int sideMargin: 0
    property color circleColor: Style.checkbox_border_color
    property color circleColor2: Style.checkbox_main_color
    property color mainTextColor: Style.text_color_1
    property bool demiBold: true
    property alias text: idText.text

    signal clicked()

    implicitHeight: Math.max(idCircle.height, idText.implicitHeight) + Dimensions.y(8)
    implicitWidth: sideMargin + idCircle.width + textMargin + idText.implicitWidth

    Rectangle {
        id: idCircle
        x: root.sideMargin
        anchors.verticalCenter: parent.verticalCenter
        width: Dimensions.x(20)
        height: width
        radius: width / 2
        color: "transparent"
        border.width: Math.max(1, Dimensions.x(2))
        border.color: root.checked ? root.circleColor2 : root.circleColor

        Rectangle {
            anchors.centerIn: parent
            width: parent.width * 0.5
            height: width
            radius: width / 2
            color: root.circleColor2
            visible: root.checked
        }
    }

    AMontserratText {
        id: idText
        anchors.left: idCircle.right
        anchors.leftMargin: root.textMargin
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        demiBold: root.demiBold
        wrapMode: Text.WordWrap
        color: root.enabled ? root.mainTextColor : Style.disableColor(root.mainTextColor)
    }

    AMouseArea {
        anchors.fill: parent
        enabled: root.enabled
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }
}
