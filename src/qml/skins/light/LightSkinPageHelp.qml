import QtQuick 2.11
import "../../components"
import "../../singletons"

LightSkinPageCustom {
    id: root
    objectName: "LightSkinPageHelp"
    screenName: qsTr("Help")

    HelpDataPart {
        anchors.fill: parent
        anchors.topMargin: Dimensions.y(10)
        anchors.leftMargin: Style.standart_side_offset
        anchors.rightMargin: Style.standart_side_offset
    }
}
