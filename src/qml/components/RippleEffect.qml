import QtQuick 2.11

// The slower ripple of large surfaces; with autoFade off it stays until
// fade() is called.
Item {
    id: root

    property color color: "#55000000"
    property color backgroundColor: "#cccccc"
    property real startRadius: 40
    property int growDuration: 600
    property int fadeDuration: 400
    property bool autoFade: true

    signal rippleCompleted()
    signal fadeCompleted()

    clip: true

    function start(px, py) {
        idFade.stop()
        idCircle.x = px - idCircle.width / 2
        idCircle.y = py - idCircle.height / 2
        idGrow.restart()
    }

    function fade() {
        idFade.restart()
    }

    Rectangle {
        id: idCircle
        width: root.startRadius * 2
        height: width
        radius: width / 2
        color: root.color
        opacity: 0
    }

    SequentialAnimation {
        id: idGrow
        PropertyAction { target: idCircle; property: "opacity"; value: 1 }
        PropertyAction { target: idCircle; property: "scale"; value: 1 }
        NumberAnimation {
            target: idCircle; property: "scale"; duration: root.growDuration
            to: 2 * Math.max(root.width, root.height) / Math.max(1, idCircle.width) + 1
            easing.type: Easing.OutCubic
        }
        ScriptAction {
            script: {
                root.rippleCompleted()
                if (root.autoFade)
                    root.fade()
            }
        }
    }

    SequentialAnimation {
        id: idFade
        NumberAnimation { target: idCircle; property: "opacity"; to: 0; duration: root.fadeDuration }
        ScriptAction { script: root.fadeCompleted() }
    }
}
