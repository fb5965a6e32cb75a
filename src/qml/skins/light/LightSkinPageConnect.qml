import QtQuick 2.11
import Ostrel.Domain 1.0
import "../../components"
import "../../singletons"

LightSkinPageCustom {
    id: root
    objectName: "LightSkinPageConnect"
    screenName: qsTr("Connect")

    readonly property int shownState: viewmodel.visualConnectionState
    readonly property var location: viewmodel.selectedLocationRaw
    readonly property var protocol: viewmodel.selectedProtocolRaw
    readonly property var port: viewmodel.selectedPortRaw

    function stateString() {
        switch (shownState) {
        case Constants.ConnectState_Connected:
            return qsTr("CONNECTED")
        case Constants.ConnectState_Connecting:
            return "CONNECTING..."
        case Constants.ConnectState_Disconnecting:
            return "DISCONNECTING..."
        case Constants.ConnectState_Disconnected:
            return qsTr("DISCONNECTED")
        }
        return "Unknown State"
    }

    AImage {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        width: parent.width
        height: width * 421 / 450
        opacity: 0.6
        source: Resources.png("earth")
    }

    Column {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.topMargin: Dimensions.y(40)
        anchors.leftMargin: Style.standart_side_offset
        anchors.rightMargin: Style.standart_side_offset
        spacing: Dimensions.y(14)

        AMontserratText {
            objectName: "LightStateText"
            anchors.horizontalCenter: parent.horizontalCenter
            text: root.stateString()
            color: Style.light_text_color_1
            bold: true
            font.pixelSize: Dimensions.py(16)
        }
        ConnectButton {
            anchors.horizontalCenter: parent.horizontalCenter
            width: Dimensions.x(170)
            height: width * 74 / 213
            connectionState: root.shownState
            onClicked: viewmodel.vpnConnectDisconnect()
        }
        Item { width: 1; height: Dimensions.y(20) }
        RoundComboBox {
            width: parent.width
            color: "white"
            textColor: Style.light_text_color_1
            borderColor: Style.light_line_color
            text: root.location ? (root.location.name !== "" ? root.location.name : root.location.caption) : qsTr("Select location")
            firstFlagSource: root.location && root.location.firstCountryCode() !== ""
                             ? Resources.flag(root.location.firstCountryCode()) : ""
            onClicked: root.skin.selectPage(root.skin.pageNumSelectLocation())
        }
        Row {
            width: parent.width
            spacing: Dimensions.x(10)
            RoundComboBox {
                width: (parent.width - parent.spacing) * 0.6
                color: "white"
                textColor: Style.light_text_color_1
                borderColor: Style.light_line_color
                text: root.protocol ? root.protocol.name : "-"
                onClicked: root.skin.selectPage(root.skin.pageNumSelectProtocol())
            }
            RoundComboBox {
                width: (parent.width - parent.spacing) * 0.4
                color: "white"
                textColor: Style.light_text_color_1
                borderColor: Style.light_line_color
                text: root.port ? root.port.name : "-"
                onClicked: root.skin.selectPage(root.skin.pageNumSelectPort())
            }
        }
        AText {
            anchors.horizontalCenter: parent.horizontalCenter
            defColor: Style.light_text_color_1
            text: qsTr("IP address: %1").arg(viewmodel.externalIP !== "" ? viewmodel.externalIP : "-")
                  + (viewmodel.externalCountry !== "" ? " (" + viewmodel.externalCountry + ")" : "")
        }
    }
}
