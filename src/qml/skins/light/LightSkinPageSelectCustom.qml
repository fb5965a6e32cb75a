import QtQuick 2.11
import "../../components"
import "../../singletons"

// Base of the light skin's selection pages: a back arrow, a caption and an
// embedded list. Derived pages give the list, the row callbacks and what a
// choice does.
LightSkinPageCustom {
    id: root

    property alias caption: idSelector.caption
    property alias itemModel: idSelector.itemModel
    property alias delegate: idSelector.delegate

    signal selected(var selectedItemId)

    function back() {
        if (skin)
            skin.selectPage(skin.pageNumConnect())
    }

    Item {
        id: idHeader
        width: parent.width
        height: Dimensions.y(44)

        AImage {
            anchors.verticalCenter: parent.verticalCenter
            x: Style.standart_side_offset
            width: Dimensions.x(18)
            height: width
            rotation: 90
            sourceSize.width: width
            sourceSize.height: height
            source: Resources.svg("path")
            AMouseArea {
                anchors.fill: parent
                anchors.margins: -Dimensions.x(10)
                cursorShape: Qt.PointingHandCursor
                onClicked: root.back()
            }
        }
        AMontserratText {
            anchors.centerIn: parent
            text: idSelector.caption
            color: Style.light_text_color_1
            demiBold: true
            font.pixelSize: Dimensions.py(16)
        }
    }

    EmbeddedItemsSelector {
        id: idSelector
        anchors.top: idHeader.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        visible: true
        background_color: "white"
        text_color: Style.light_text_color_1
        selected_text_color: Style.light_text_color_2
        back_line_color: Style.standart_lines_color_light
        onSelected: {
            root.selected(selectedItemId)
            root.back()
        }
    }
}
