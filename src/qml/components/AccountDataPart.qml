import QtQuick 2.11
import QtQuick.Layouts 1.1
import "../singletons"

// The light skin's account block: user name, password, save and reset.
AColumnLayout {
    id: root

    spacing: Dimensions.y(8)

    AMontserratText {
        text: "VPN USERNAME"
        color: Style.light_line_color
        demiBold: true
        font.pixelSize: Dimensions.py(11)
    }
    RoundInput {
        Layout.fillWidth: true
        text: viewmodel.username
        textColor: Style.light_text_color_1
        borderColor: Style.light_line_color
        placeholderText: qsTr("Username")
        onTextEdited: viewmodel.username = input.text
    }
    AMontserratText {
        text: "PASSWORD"
        color: Style.light_line_color
        demiBold: true
        font.pixelSize: Dimensions.py(11)
    }
    RoundInput {
        Layout.fillWidth: true
        isPassword: true
        text: viewmodel.userpassword
        textColor: Style.light_text_color_1
        borderColor: Style.light_line_color
        placeholderText: qsTr("Password")
        onTextEdited: viewmodel.userpassword = input.text
    }
    OptionCheckbox {
        Layout.fillWidth: true
        option: viewmodel.optionSavePassword
        text: "Save password"
    }
    TextButton {
        text: "Reset password"
        textColor: Style.light_text_color_2
        additionalHeight: Dimensions.y(10)
        onClicked: viewmodel.resetPassword()
    }
}
