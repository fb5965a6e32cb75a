import QtQuick 2.11
import "../../components"
import "../../singletons"

// One page button of the footer: icon, caption, and a red badge with the
// number of things waiting on that page.
ARectangle {
    id: root

    property string text: ""
    property string image: ""
    property bool isSelected: false
    property int attentionCounter: 0
    property bool withRipple: true
    property color textColor: isSelected ? Style.footer_selected : "#B7BCC9"
    property alias iconOverlay: idIcon

    signal clicked()

    color: isSelected ? Style.footer_selected_button_bg : "transparent"

    AImage {
        id: idIcon
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: Dimensions.y(10)
        width: Dimensions.x(22)
        height: width
        sourceSize.width: width
        sourceSize.height: height
        source: root.image === "" ? "" : Resources.svg(root.image + (root.isSelected ? "_selected" : ""))
    }

    Rectangle {
        id: idBadge
        objectName: root.objectName + "Badge"
        visible: root.attentionCounter > 0
        anchors.left: idIcon.right
        anchors.leftMargin: -Dimensions.x(6)
        anchors.top: idIcon.top
        anchors.topMargin: -Dimensions.y(6)
        height: Dimensions.y(16)
        width: Math.max(height, idBadgeText.implicitWidth + Dimensions.x(8))
        radius: height / 2
        color: "#D4145A"

        AText {
            id: idBadgeText
            anchors.centerIn: parent
            text: root.attentionCounter
            defColor: "white"
            font.pixelSize: Dimensions.py(10)
            font.bold: true
        }
    }

    AMontserratText {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: idIcon.bottom
        anchors.topMargin: Dimensions.y(6)
        text: root.text
        color: root.textColor
        demiBold: true
        font.pixelSize: Dimensions.py(9)
        font.letterSpacing: 0.5
    }

    Ripple {
        id: idRipple
        anchors.fill: parent
        visible: root.withRipple
        color: Style.lightSkinType ? Style.gray_ripple_color : Style.standart_ripple_color
        opacity: 0.15
    }

    AMouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: {
            if (root.withRipple)
                idRipple.start(mouse.x, mouse.y)
            root.clicked()
        }
    }
}
