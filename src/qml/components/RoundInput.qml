import QtQuick 2.11
import "../singletons"

// A single-line text input in a rounded frame, with a placeholder.
ARectangle {
    id: root

    property bool isPassword: false
    property color borderColor: Style.lineColor
    property color textColor: "white"
    property color placeholderTextColor: "gray"
    property alias placeholderText: idPlaceholder.text
    property alias text: idInput.text
    property alias bold: idInput.font.bold
    property alias input: idInput

    signal textEdited()

    implicitHeight: Dimensions.y(44)
    radius: height / 2
    border.width: 1
    border.color: idInput.activeFocus ? Style.bright_color : borderColor

    TextInput {
        id: idInput
        anchors.fill: parent
        anchors.leftMargin: Dimensions.x(18)
        anchors.rightMargin: Dimensions.x(18)
        verticalAlignment: TextInput.AlignVCenter
        clip: true
        color: root.textColor
        selectByMouse: true
        selectionColor: Style.bright_color
        echoMode: root.isPassword ? TextInput.Password : TextInput.Normal
        font.family: FontRobotoLoader.regular.name
        font.pixelSize: Dimensions.py(14)
        onTextEdited: root.textEdited()

        CopyPasteMenu {
            anchors.fill: parent
            textInput: idInput
        }
    }

    AText {
        id: idPlaceholder
        anchors.fill: idInput
        verticalAlignment: Text.AlignVCenter
        defColor: root.placeholderTextColor
        visible: idInput.text === "" && !idInput.activeFocus
        elide: Text.ElideRight
    }
}
