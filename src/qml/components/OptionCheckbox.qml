import QtQuick 2.11
import "../singletons"

// A ZCheckbox bound to one preference option, with the option's comment
// below it. "inverted" shows the opposite of the option's value.
Column {
    id: root

    property var option: null
    property string text: option ? option.caption : ""
    property string comment: ""
    property bool inverted: false

    visible: option ? option.visible : false
    spacing: Dimensions.y(2)

    ZCheckbox {
        width: parent.width
        text: root.text
        checked: root.option ? root.option.value !== root.inverted : false
        enabled: root.option ? root.option.enabled : false
        mainTextColor: Style.light_text_color_1
        circleColor: Style.light_line_color
        circleColor2: Style.light_text_color_2
        onClicked: {
            if (!root.option)
                return
            // The skin is reloaded by this change: it is the user's.
            if (root.option === viewmodel.optionLightSkin)
                viewmodel.userChangeSkin = true
            root.option.value = !root.option.value
        }
    }
    CommentText {
        x: Dimensions.x(32)
        width: parent.width - x
        visible: text !== ""
        text: root.comment
        color: Style.light_line_color
    }
}
