import QtQuick 2.11
import "../../components"
import "../../singletons"

// A rounded button; "bright" fills it with the accent colour.
ARectangle {
    id: root

    property alias text: idText.text
    property bool bright: false

    signal clicked()

    implicitHeight: Dimensions.y(38)
    implicitWidth: idText.implicitWidth + Dimensions.x(36)
    radius: height / 2
    color: {
        var base = bright ? Style.bright_color : Style.grayRectColor
        if (!enabled)
            return Style.disableColor2(base)
        return idMouseArea.pressed ? Qt.darker(base, 1.2) : base
    }
    border.width: bright ? 0 : 1
    border.color: Style.lineColor

    AMontserratText {
        id: idText
        anchors.centerIn: parent
        demiBold: true
        font.pixelSize: Dimensions.py(13)
        color: root.bright ? "white" : Style.text_color_1
        opacity: root.enabled ? 1.0 : 0.5
    }

    AMouseArea {
        id: idMouseArea
        anchors.fill: parent
        enabled: root.enabled
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }
}
