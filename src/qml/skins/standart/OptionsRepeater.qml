import QtQuick 2.11
import "../../components"
import "../../singletons"

// One switch line per preference option of a SettingOptionModel.
Column {
    id: root

    property var optionModel: null

    signal linkActivated(string link)

    ARepeater {
        model: root.optionModel
        delegate: Column {
            readonly property var option: model.item
            width: root.width
            visible: option ? option.visible : false

            GrayPanelB {
                objectName: option ? "Option_" + (option.key !== "" ? option.key : option.caption) : ""
                width: parent.width
                caption: option ? option.caption : ""
                value: option ? option.description : ""
                checked: option ? option.value : false
                enabled: option ? option.enabled : false
                onToggled: {
                    if (!option)
                        return
                    // The skin is reloaded by this change: it is the user's.
                    if (option === viewmodel.optionLightSkin)
                        viewmodel.userChangeSkin = true
                    option.value = !option.value
                }
                onLinkActivated: root.linkActivated(link)
            }
            Rectangle {
                width: parent.width
                height: 1
                color: Style.lineColor
            }
        }
    }
}
