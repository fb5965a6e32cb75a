import QtQuick 2.11
import "../../components"
import "../../singletons"

StandartSkinPageCustom {
    id: root
    objectName: "StandartSkinPagePreferences"
    screenName: qsTr("Preferences")

    Flickable {
        id: idFlickable
        anchors.fill: parent
        anchors.leftMargin: Style.standart_side_offset
        anchors.rightMargin: Style.standart_side_offset
        contentWidth: width
        contentHeight: idColumn.height + Dimensions.y(16)
        boundsBehavior: Flickable.StopAtBounds
        clip: true
        Component.onCompleted: Style.setupMaximumFlickVelocity(idFlickable)

        AMouseArea {
            width: idFlickable.contentWidth
            height: idFlickable.contentHeight
            onClicked: root.forceActiveFocusToInnerNowhere()
        }

        Column {
            id: idColumn
            width: parent.width
            spacing: Dimensions.y(6)

            Column {
                id: idAccount
                width: parent.width
                spacing: Dimensions.y(6)

                AMontserratText {
                    text: "VPN username"
                    color: Style.text_color_labels
                    font.pixelSize: Dimensions.py(12)
                }
                GrayInput {
                    objectName: "Input_Username"
                    width: parent.width
                    text: viewmodel.username
                    placeholderText: qsTr("Username")
                    placeholderTextColor: "gray"
                    onTextEdited: viewmodel.username = input.text
                }
                Item { width: 1; height: Dimensions.y(4) }
                AMontserratText {
                    text: "Password"
                    color: Style.text_color_labels
                    font.pixelSize: Dimensions.py(12)
                }
                GrayInput {
                    objectName: "Input_Password"
                    width: parent.width
                    isPassword: true
                    text: viewmodel.userpassword
                    placeholderText: qsTr("Password")
                    placeholderTextColor: "gray"
                    onTextEdited: viewmodel.userpassword = input.text
                }
                TextButton {
                    objectName: "ChangePasswordButton"
                    anchors.right: parent.right
                    text: "Change VPN password"
                    pixelSize: Dimensions.py(12)
                    additionalHeight: Dimensions.y(12)
                    onClicked: viewmodel.resetPassword()
                }
                Rectangle {
                    width: parent.width
                    height: 1
                    color: Style.lineColor
                }
            }

            OptionsRepeater {
                objectName: "PreferencesOptions"
                width: parent.width
                optionModel: viewmodel.optionModelPreferences
                onLinkActivated: viewmodel.linkAktivated(link)
            }
        }
    }

    ScrollForFlickable {
        anchors.top: idFlickable.top
        anchors.bottom: idFlickable.bottom
        anchors.right: parent.right
        anchors.rightMargin: Dimensions.x(6)
        flickable: idFlickable
        scrollColor: "gray"
    }
}
