import QtQuick 2.11
import "../../components"
import "../../singletons"

// An option line: caption and description on the left, a switch on the
// right. The switch only asks (toggled()); the owner keeps the value.
ARectangle {
    id: root

    property string caption: ""
    property string value: ""
    property bool checked: false

    signal toggled()
    signal linkActivated(string link)

    implicitHeight: idColumn.implicitHeight + Dimensions.y(24)

    Column {
        id: idColumn
        anchors.left: parent.left
        anchors.right: idSwitch.left
        anchors.rightMargin: Dimensions.x(14)
        anchors.verticalCenter: parent.verticalCenter
        spacing: Dimensions.y(4)

        AMontserratText {
            width: parent.width
            text: root.caption
            demiBold: true
            wrapMode: Text.WordWrap
            font.pixelSize: Dimensions.py(14)
            color: root.enabled ? Style.text_color_1 : Style.disableColor(Style.text_color_1)
        }
        CommentText {
            width: parent.width
            visible: text !== ""
            text: root.value
            textFormat: Text.StyledText
            linkColor: Style.text_color_3
            color: root.enabled ? Style.comment_text_color : Style.disableCommentColor(Style.comment_text_color)
            onLinkActivated: root.linkActivated(link)
        }
    }

    GrayCheckBox {
        id: idSwitch
        objectName: root.objectName !== "" ? root.objectName + "_switch" : ""
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        checked: root.checked
        enabled: root.enabled
        onToggled: root.toggled()
    }
}
