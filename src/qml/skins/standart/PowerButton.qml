import QtQuick 2.11
import Ostrel.Domain 1.0
import "../../components"
import "../../singletons"

// The round connect button: a ring coloured by the state (green while
// connected, red otherwise) around a blue disc with the power sign, or with
// the state in words while a connection is being made or dropped.
Item {
    id: root

    property int connectionState: Constants.ConnectState_Disconnected
    readonly property bool connected: connectionState === Constants.ConnectState_Connected
    readonly property bool connecting: connectionState === Constants.ConnectState_Connecting
    readonly property bool disconnecting: connectionState === Constants.ConnectState_Disconnecting
    readonly property bool settled: connected || connectionState === Constants.ConnectState_Disconnected
    property alias stateText: idStateText

    signal clicked()

    function stateString(state) {
        switch (state) {
        case Constants.ConnectState_Connecting:
            return "CONNECTING..."
        case Constants.ConnectState_Disconnecting:
            return "DISCONNECTING..."
        case Constants.ConnectState_Connected:
        case Constants.ConnectState_Disconnected:
            return ""
        }
        return "Unknown State"
    }

    AnimatedArc {
        id: idAnimatedArc
        objectName: "AnimatedArc"
        anchors.fill: parent
        connectionState: root.connectionState
    }

    Rectangle {
        id: idRing
        anchors.centerIn: parent
        width: parent.width * 0.86
        height: width
        radius: width / 2
        color: "transparent"
        border.width: Math.max(3, width / 28)
        border.color: root.connected ? "#74C25A" : "#D4145A"
        Behavior on border.color { ColorAnimation { duration: 700 } }
    }

    Rectangle {
        id: idDisc
        anchors.centerIn: parent
        width: idRing.width - 2 * idRing.border.width - parent.width * 0.06
        height: width
        radius: width / 2
        color: idMouseArea.pressed ? Qt.darker("#1869DC", 1.15) : "#1869DC"

        AImage {
            id: idPowerIcon
            anchors.centerIn: parent
            width: parent.width * 0.38
            height: width
            sourceSize.width: width
            sourceSize.height: height
            source: Resources.svg("power2")
            opacity: root.settled ? 1.0 : 0.0
            Behavior on opacity { NumberAnimation { id: opacityAnimation; duration: 700 } }
        }

        Column {
            anchors.centerIn: parent
            spacing: Dimensions.y(4)
            opacity: root.settled ? 0.0 : 1.0
            Behavior on opacity { NumberAnimation { duration: 700 } }

            AMontserratText {
                id: idStateText
                objectName: "ConnectStateText"
                anchors.horizontalCenter: parent.horizontalCenter
                text: root.stateString(root.connectionState)
                color: "white"
                demiBold: true
                font.pixelSize: Dimensions.py(14)
            }
            AMontserratText {
                objectName: "ClickToCancelText"
                anchors.horizontalCenter: parent.horizontalCenter
                visible: root.connecting
                text: "(click to cancel)"
                color: "white"
                opacity: 0.4
                font.pixelSize: Dimensions.py(11)
            }
        }
    }

    AMouseArea {
        id: idMouseArea
        objectName: "ConnectButtonMouseArea"
        anchors.centerIn: parent
        width: idRing.width
        height: width
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }
}
