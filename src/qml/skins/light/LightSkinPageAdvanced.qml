import QtQuick 2.11
import "../../components"
import "../../singletons"

LightSkinPageCustom {
    id: root
    objectName: "LightSkinPageAdvanced"
    screenName: qsTr("Advanced")

    Flickable {
        id: idFlickable
        anchors.fill: parent
        anchors.leftMargin: Style.standart_side_offset
        anchors.rightMargin: Style.standart_side_offset
        contentWidth: width
        contentHeight: idPart.height + Dimensions.y(20)
        boundsBehavior: Flickable.StopAtBounds
        clip: true

        AdvancedDataPart {
            id: idPart
            y: Dimensions.y(10)
            width: parent.width
        }
    }

    ScrollForFlickable {
        anchors.top: idFlickable.top
        anchors.bottom: idFlickable.bottom
        anchors.right: parent.right
        anchors.rightMargin: Dimensions.x(6)
        flickable: idFlickable
        scrollBgColor: Style.light_bg_color_0
        scrollColor: Style.light_line_color
    }
}
