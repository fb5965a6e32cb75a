import QtQuick 2.11
import "../../components"
import "../../singletons"

// A switch. It does not change "checked" itself: the owner gets toggled()
// and writes the value it keeps, so a vetoed change snaps back.
ARectangle {
    id: root

    property bool checked: false

    signal toggled()

    implicitWidth: Dimensions.x(40)
    implicitHeight: Dimensions.y(22)
    radius: height / 2
    color: {
        var c = checked ? Style.checkbox_main_color : "transparent"
        return enabled ? c : Style.disableColor2(c)
    }
    border.width: checked ? 0 : Math.max(1, Dimensions.x(1.5))
    border.color: enabled ? Style.checkbox_border_color : Style.disableColor2(Style.checkbox_border_color)
    Behavior on color { ColorAnimation { duration: Style.animationDuration } }

    Rectangle {
        id: idKnob
        width: parent.height - Dimensions.y(6)
        height: width
        radius: width / 2
        anchors.verticalCenter: parent.verticalCenter
        x: root.checked ? parent.width - width - Dimensions.y(3) : Dimensions.y(3)
        color: root.checked ? "white" : root.border.color
        Behavior on x { NumberAnimation { duration: Style.animationDuration } }
    }

    AMouseArea {
        anchors.fill: parent
        anchors.margins: -Dimensions.x(6)
        enabled: root.enabled
        cursorShape: Qt.PointingHandCursor
        onClicked: root.toggled()
    }
}
