import QtQuick 2.11
import "../../components"
import "../../singletons"

StandartSkinPageCustom {
    id: root
    objectName: "StandartSkinPageDebug"
    screenName: qsTr("Debug")

    Flickable {
        id: idFlickable
        anchors.fill: parent
        anchors.leftMargin: Style.standart_side_offset
        anchors.rightMargin: Style.standart_side_offset
        contentWidth: width
        contentHeight: idColumn.height + Dimensions.y(16)
        boundsBehavior: Flickable.StopAtBounds
        clip: true

        Column {
            id: idColumn
            width: parent.width
            spacing: Dimensions.y(8)

            AMontserratText {
                objectName: "DebugPageTitle"
                anchors.horizontalCenter: parent.horizontalCenter
                text: "DEBUG PAGE"
                color: Style.text_color_1
                bold: true
                font.pixelSize: Dimensions.py(18)
            }
            GrayButton {
                width: parent.width
                text: "Disable killswitch"
                enabled: viewmodel.isRestoreGwAvailable
                // Runs once this handler has returned: see the connect page.
                onClicked: Qt.callLater(viewmodel.restoreGw)
            }
            GrayButton {
                width: parent.width
                text: "Restore GW from config"
                enabled: viewmodel.isRestoreGwFormConfigAvailable
                onClicked: viewmodel.restoreGwFromConfig()
            }
            GrayButton {
                width: parent.width
                text: "Restore DNS"
                enabled: viewmodel.isRestoreDNSAvailable
                onClicked: viewmodel.restoreDNSNic()
            }
            GrayButton {
                width: parent.width
                text: "Show Log"
                onClicked: viewmodel.showLog()
            }
            GrayButton {
                width: parent.width
                text: "Run Update"
                onClicked: viewmodel.updateAvailableClicked()
            }
            GrayButton {
                width: parent.width
                text: "ipcConnectionTest"
                onClicked: viewmodel.ipcConnectionTest()
            }
            Row {
                width: parent.width
                spacing: Dimensions.x(8)
                GrayButton {
                    width: (parent.width - 2 * parent.spacing) / 3
                    text: "Crash 1"
                    onClicked: viewmodel.crash1()
                }
                GrayButton {
                    width: (parent.width - 2 * parent.spacing) / 3
                    text: "Exception"
                    onClicked: viewmodel.exception()
                }
                GrayButton {
                    width: (parent.width - 2 * parent.spacing) / 3
                    text: "Minidump"
                    onClicked: viewmodel.minidump()
                }
            }
            GrayInput {
                id: idCommand
                width: parent.width
                objectName: "DebugCommandInput"
                text: "open vpn management command"
                textColor: Style.input_text_color
            }
            GrayButton {
                width: parent.width
                text: "write openVpn command"
                onClicked: viewmodel.writeOpenVpnCommand(idCommand.text)
            }
            AnimatedImage {
                anchors.horizontalCenter: parent.horizontalCenter
                width: Dimensions.x(160)
                height: width * 74 / 213
                fillMode: Image.PreserveAspectFit
                // The animation exists for the dark palette only.
                source: "qrc:///standart_skin/onoffbunton-connecting.gif"
            }
        }
    }
}
