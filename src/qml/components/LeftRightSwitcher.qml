import QtQuick 2.11
import "../singletons"

// A two-way switch: two halves, the selected one filled.
Rectangle {
    id: root

    property string leftText: "LEFT"
    property string rightText: "RIGHT"
    property bool leftSelected: true
    property color borderColor: "red"
    property color unselectedColor: "#f2f1f1"
    property color selectedTextColor: "white"
    property color selectedColor: "#4c8a5c"
    property color unselectedTextColor: selectedColor

    signal leftClicked()
    signal rightClicked()

    implicitHeight: Dimensions.y(32)
    implicitWidth: Dimensions.x(220)
    radius: height / 2
    color: unselectedColor
    border.width: 1
    border.color: borderColor
    clip: true

    Rectangle {
        id: idSelection
        width: parent.width / 2
        height: parent.height
        radius: height / 2
        x: root.leftSelected ? 0 : parent.width / 2
        color: root.selectedColor
        Behavior on x { NumberAnimation { duration: Style.animationDuration } }
    }

    Row {
        anchors.fill: parent
        Repeater {
            model: 2
            Item {
                readonly property bool isLeft: index === 0
                readonly property bool selected: isLeft === root.leftSelected
                width: root.width / 2
                height: root.height

                AMontserratText {
                    anchors.centerIn: parent
                    text: parent.isLeft ? root.leftText : root.rightText
                    demiBold: true
                    font.pixelSize: Dimensions.py(13)
                    color: parent.selected ? root.selectedTextColor : root.unselectedTextColor
                }
                AMouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: {
                        if (parent.isLeft)
                            root.leftClicked()
                        else
                            root.rightClicked()
                    }
                }
            }
        }
    }
}
