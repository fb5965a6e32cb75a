import QtQuick 2.11
import QtQuick.Layouts 1.1
import "../singletons"

// The light skin's preferences.
AColumnLayout {
    id: root

    spacing: Dimensions.y(10)

    OptionCheckbox {
        Layout.fillWidth: true
        option: viewmodel.optionMinimizeOnClose
        text: "Minimize on close"
    }
    OptionCheckbox {
        Layout.fillWidth: true
        option: viewmodel.optionStartMinimized
        text: "Start minimized"
    }
    OptionCheckbox {
        Layout.fillWidth: true
        option: viewmodel.optionAutoConnectOnLaunch
        text: "Auto-connect on Software launch"
        comment: "Auto-connect using last used location and protocol settings"
    }
    OptionCheckbox {
        Layout.fillWidth: true
        option: viewmodel.optionLaunchOnSystemStart
        text: "Launch on system start"
    }
    OptionCheckbox {
        Layout.fillWidth: true
        option: viewmodel.optionConnectWhenChoosingNewLocation
        text: "Auto-connect when choosing new location"
    }
    OptionCheckbox {
        Layout.fillWidth: true
        option: viewmodel.optionMacUseColorIcons
        text: "Use blue/red icons in status menu bar"
    }
    OptionCheckbox {
        id: idDarkSkinCheckbox
        Layout.fillWidth: true
        option: viewmodel.optionLightSkin
        inverted: true
        text: qsTr("Dark skin")
    }
    OptionCheckbox {
        id: idLightSkinCheckbox
        Layout.fillWidth: true
        option: viewmodel.optionLightSkin
        text: qsTr("Light skin")
    }
}
