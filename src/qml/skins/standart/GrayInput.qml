import QtQuick 2.11
import "../../components"
import "../../singletons"

// A text field of the standard skin.
ARectangle {
    id: root

    property alias text: idInput.text
    property alias placeholderText: idPlaceholder.text
    property alias input: idInput
    property bool isPassword: false
    property color textColor: Style.input_text_color
    property color placeholderTextColor: Style.input_text_placeholder_color

    signal textEdited()

    implicitHeight: Dimensions.y(44)
    radius: Dimensions.x(8)
    color: Style.grayRectColor
    border.width: 1
    border.color: idInput.activeFocus ? Style.bright_color : Style.selectColor(Qt.rgba(1, 1, 1, 0.18), "#C2C5CD")

    TextInput {
        id: idInput
        anchors.fill: parent
        anchors.leftMargin: Dimensions.x(14)
        anchors.rightMargin: Dimensions.x(14)
        verticalAlignment: TextInput.AlignVCenter
        clip: true
        color: root.textColor
        selectByMouse: true
        selectionColor: Style.bright_color
        echoMode: root.isPassword ? TextInput.Password : TextInput.Normal
        font.family: FontRobotoLoader.regular.name
        font.pixelSize: Dimensions.py(15)
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
        visible: idInput.text === ""
        elide: Text.ElideRight
    }
}
