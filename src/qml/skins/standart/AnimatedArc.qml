import QtQuick 2.11
import Ostrel.Domain 1.0

// The ring around the connect button: a faint full circle, and while a
// connection is being made or dropped a bright arc that grows, shrinks and
// turns.
Canvas {
    id: root

    property int connectionState: Constants.ConnectState_Disconnected
    readonly property bool busy: connectionState === Constants.ConnectState_Connecting
                                 || connectionState === Constants.ConnectState_Disconnecting
    readonly property bool connected: connectionState === Constants.ConnectState_Connected
    property real arcBegin: -90
    property real arcEnd: 270
    property int animationDuration: 4000
    property real lineWidth: Math.max(2, width / 60)
    property color arcColor: "#bbbbbb"
    property color trackColor: connected ? "#224C8B5D" : "#22bbbbbb"

    contextType: "2d"
    antialiasing: true

    onTrackColorChanged: requestPaint()
    onBusyChanged: {
        if (!busy)
            rotation = 0
        requestPaint()
    }
    onWidthChanged: requestPaint()
    onHeightChanged: requestPaint()

    onPaint: {
        var ctx = getContext("2d")
        ctx.reset()
        var cx = width / 2
        var cy = height / 2
        var r = Math.min(width, height) / 2 - lineWidth
        ctx.lineWidth = lineWidth
        ctx.lineCap = "round"

        ctx.beginPath()
        ctx.strokeStyle = trackColor
        ctx.arc(cx, cy, r, 0, 2 * Math.PI, false)
        ctx.stroke()

        if (busy) {
            ctx.beginPath()
            ctx.strokeStyle = arcColor
            ctx.arc(cx, cy, r, arcBegin * Math.PI / 180, arcEnd * Math.PI / 180, false)
            ctx.stroke()
        }
    }

    // The arc's length breathes while busy.
    SequentialAnimation on arcEnd {
        running: root.busy
        loops: Animation.Infinite
        NumberAnimation { from: -60; to: 200; duration: root.animationDuration / 2; easing.type: Easing.InOutQuad }
        NumberAnimation { from: 200; to: -60; duration: root.animationDuration / 2; easing.type: Easing.InOutQuad }
    }

    RotationAnimator on rotation {
        running: root.busy
        from: 0
        to: 359
        duration: root.animationDuration / 2
        loops: Animation.Infinite
    }

    Timer {
        interval: 40
        repeat: true
        running: root.busy && root.visible
        onTriggered: root.requestPaint()
    }
}
