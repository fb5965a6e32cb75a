import QtQuick 2.11
import Ostrel.Domain 1.0
import "../../components"
import "../../singletons"

// The light skin's on/off switch.
Item {
    id: root

    property int connectionState: Constants.ConnectState_Disconnected

    signal clicked()

    implicitWidth: Dimensions.x(213)
    implicitHeight: Dimensions.x(74)

    AImage {
        anchors.fill: parent
        source: {
            switch (root.connectionState) {
            case Constants.ConnectState_Connected:
                return Resources.png("btn_on")
            case Constants.ConnectState_Connecting:
            case Constants.ConnectState_Disconnecting:
                return Resources.png("btn_on_process")
            }
            return Resources.png("btn_off")
        }
    }
    AMouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }
}
