import QtQuick 2.11
import "../../components"
import "../../singletons"

// A caption over a value, with a link below (the status panels).
GrayRect {
    id: root

    property string caption: ""
    property string value: ""
    property string linkText: ""
    property bool buttonEnabled: true
    property alias valueItem: idValue

    signal linkClicked()

    implicitHeight: idColumn.implicitHeight + 2 * verticalMargins

    Column {
        id: idColumn
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        anchors.leftMargin: root.horizontalMargins
        anchors.rightMargin: root.horizontalMargins
        spacing: Dimensions.y(4)

        AMontserratText {
            width: parent.width
            text: root.caption
            color: Style.text_color_labels
            font.pixelSize: Dimensions.py(11)
            elide: Text.ElideRight
        }
        AMontserratText {
            id: idValue
            width: parent.width
            text: root.value
            demiBold: true
            color: Style.text_color_1
            font.pixelSize: Dimensions.py(15)
            elide: Text.ElideRight
        }
        TextButton {
            visible: root.linkText !== ""
            enabled: root.buttonEnabled
            text: root.linkText
            pixelSize: Dimensions.py(12)
            textColor: Style.text_color_3
            onClicked: root.linkClicked()
        }
    }
}
