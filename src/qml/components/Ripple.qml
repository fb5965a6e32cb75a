import QtQuick 2.11

// A circle that grows from the press point and fades out. Call start(x, y).
Item {
    id: root

    property color color: "#55000000"
    property color backgroundColor: "#cccccc"
    property bool backgroundFade: false
    property real startRadius: 40
    property int growDuration: 400
    property int fadeDuration: 300

    clip: true

    function start(px, py) {
        idCircle.x = px - idCircle.width / 2
        idCircle.y = py - idCircle.height / 2
        idAnimation.restart()
    }

    Rectangle {
        id: idBackground
        anchors.fill: parent
        color: root.backgroundColor
        opacity: 0
        visible: root.backgroundFade
    }

    Rectangle {
        id: idCircle
        width: root.startRadius * 2
        height: width
        radius: width / 2
        color: root.color
        opacity: 0
    }

    ParallelAnimation {
        id: idAnimation
        SequentialAnimation {
            PropertyAction { target: idCircle; property: "opacity"; value: 1 }
            PropertyAction { target: idCircle; property: "scale"; value: 1 }
            NumberAnimation {
                target: idCircle; property: "scale"; duration: root.growDuration
                to: 2 * Math.max(root.width, root.height) / Math.max(1, idCircle.width) + 1
                easing.type: Easing.OutQuad
            }
            NumberAnimation { target: idCircle; property: "opacity"; to: 0; duration: root.fadeDuration }
        }
        SequentialAnimation {
            NumberAnimation { target: idBackground; property: "opacity"; to: 0.3; duration: root.growDuration }
            NumberAnimation { target: idBackground; property: "opacity"; to: 0; duration: root.fadeDuration }
        }
    }
}
