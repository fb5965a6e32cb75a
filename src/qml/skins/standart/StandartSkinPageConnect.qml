import QtQuick 2.11
import QtQuick.Layouts 1.1
import Ostrel.Domain 1.0
import "../../components"
import "../../singletons"

StandartSkinPageCustom {
    id: root
    objectName: "StandartSkinPageConnect"
    screenName: qsTr("Connect")

    readonly property int shownState: viewmodel.visualConnectionState
    readonly property bool connected: shownState === Constants.ConnectState_Connected
    readonly property var location: viewmodel.selectedLocationRaw
    readonly property var protocol: viewmodel.selectedProtocolRaw
    readonly property var port: viewmodel.selectedPortRaw

    function flagOf(code) {
        return code !== "" ? Resources.flag(code) : ""
    }

    function refreshElapsedTime() {
        idElapsedTimeString.text = connected ? viewmodel.getElapsedTimeString(viewmodel.connectedTime) : ""
    }

    onConnectedChanged: refreshElapsedTime()
    Component.onCompleted: refreshElapsedTime()

    Timer {
        interval: 1000
        repeat: true
        running: root.connected
        onTriggered: root.refreshElapsedTime()
    }

    AColumnLayout {
        anchors.fill: parent
        anchors.leftMargin: Style.standart_side_offset
        anchors.rightMargin: Style.standart_side_offset
        anchors.topMargin: Dimensions.y(6)
        anchors.bottomMargin: Dimensions.y(10)
        spacing: Dimensions.y(10)

        PowerButton {
            id: idConnectButton
            objectName: "ConnectButton"
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: Dimensions.x(186)
            Layout.preferredHeight: Dimensions.x(186)
            connectionState: root.shownState
            onClicked: viewmodel.vpnConnectDisconnect()
        }

        Item {
            Layout.fillWidth: true
            Layout.preferredHeight: Dimensions.y(40)

            AMontserratText {
                id: idConnectionCaption
                objectName: "ConnectionCaption"
                anchors.horizontalCenter: parent.horizontalCenter
                anchors.top: parent.top
                text: viewmodel.changingLocationFlag ? qsTr("Changing location...")
                      : root.connected ? qsTr("Connected")
                      : root.shownState === Constants.ConnectState_Disconnected ? qsTr("Not connected") : ""
                color: root.connected ? "#74C25A" : Style.text_color_labels
                demiBold: true
                font.pixelSize: Dimensions.py(15)
            }
            AText {
                id: idElapsedTimeString
                objectName: "ElapsedTimeText"
                anchors.horizontalCenter: parent.horizontalCenter
                anchors.top: idConnectionCaption.bottom
                anchors.topMargin: Dimensions.y(2)
                visible: root.connected
                defColor: Style.text_color_labels
                font.pixelSize: Dimensions.py(12)
            }
        }

        GrayButton {
            id: idRestoreGWButton
            objectName: "RestoreGwButton"
            Layout.alignment: Qt.AlignHCenter
            visible: viewmodel.isRestoreGwAvailable
            bright: true
            text: "Disable killswitch"
            // The kill switch's command waits with events processed: it runs
            // once this handler has returned, as the page may go meanwhile.
            onClicked: Qt.callLater(viewmodel.restoreGw)
        }

        Item {
            Layout.fillHeight: true
        }

        AColumnLayout {
            id: idLocationProtocolAndPortLayout
            Layout.fillWidth: true
            spacing: Dimensions.y(8)

            GrayComboBox {
                id: idLocationCombo
                objectName: "LocationCombo"
                Layout.fillWidth: true
                text: root.location ? (root.location.name !== "" ? root.location.name : root.location.caption) : qsTr("Select location")
                firstFlagSource: root.location ? root.flagOf(root.location.firstCountryCode()) : ""
                secondFlagSource: root.location ? root.flagOf(root.location.secondCountryCode()) : ""
                onClicked: viewmodel.goSelectLocation()
            }

            AText {
                objectName: "LocationsStateText"
                Layout.fillWidth: true
                visible: text !== ""
                text: viewmodel.getLocationsState
                horizontalAlignment: Text.AlignHCenter
                elide: Text.ElideRight
                defColor: Style.text_color_labels
                font.pixelSize: Dimensions.py(11)
            }

            ARowLayout {
                Layout.fillWidth: true
                visible: viewmodel.optionProtocolPortOnConnectPage.value
                spacing: Dimensions.x(8)

                AColumnLayout {
                    Layout.fillWidth: true
                    Layout.preferredWidth: 3
                    spacing: Dimensions.y(4)
                    AMontserratText {
                        text: qsTr("Protocol")
                        color: Style.text_color_labels
                        font.pixelSize: Dimensions.py(11)
                    }
                    GrayComboBox {
                        objectName: "ConnectPageProtocolCombo"
                        Layout.fillWidth: true
                        text: root.protocol ? root.protocol.name : "-"
                        onClicked: viewmodel.goSelectProtocol()
                    }
                }
                AColumnLayout {
                    Layout.fillWidth: true
                    Layout.preferredWidth: 2
                    spacing: Dimensions.y(4)
                    AMontserratText {
                        text: qsTr("Port")
                        color: Style.text_color_labels
                        font.pixelSize: Dimensions.py(11)
                    }
                    GrayComboBox {
                        objectName: "ConnectPagePortCombo"
                        Layout.fillWidth: true
                        text: root.port ? root.port.name : "-"
                        onClicked: viewmodel.goSelectPort()
                    }
                }
            }
        }

        ARowLayout {
            Layout.fillWidth: true
            spacing: Dimensions.x(10)

            GrayPanelA {
                objectName: "CurrentLocationPanel"
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                caption: qsTr("Current Location")
                value: viewmodel.externalCountry !== "" ? viewmodel.externalCountry : "-"
                linkText: qsTr("IP Leak Check >")
                onLinkClicked: viewmodel.iPLeakCheck()
            }
            GrayPanelA {
                objectName: "IpAddressPanel"
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                caption: qsTr("IP address")
                value: viewmodel.externalIP !== "" ? viewmodel.externalIP : "-"
                linkText: qsTr("Connection log >")
                onLinkClicked: viewmodel.showLog()
            }
        }
    }
}
