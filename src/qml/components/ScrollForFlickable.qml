import QtQuick 2.11
import "../singletons"

// A slim scroll bar for any flickable: shows where the view is and can be
// dragged. Place it at the flickable's right edge.
ARectangle {
    id: root

    property var flickable: null
    property color scrollBgColor: Style.selector_scrollBgColor
    property color scrollColor: Style.selector_scrollColor
    property color scrollColorFocused: Style.selector_scrollColorFocused
    // Widens the grip area to the left without widening the bar.
    property int mouseAreaOffset: Dimensions.x(6)
    property bool hide: false

    readonly property real contentHeight: flickable ? flickable.contentHeight : 0
    readonly property real viewHeight: flickable ? flickable.height : 0
    readonly property bool needed: contentHeight > viewHeight + 1

    width: Dimensions.x(4)
    radius: width / 2
    color: scrollBgColor
    visible: !hide && needed

    // The content position that puts the grip's top at barY.
    function scrollY(barY) {
        if (!flickable || !needed)
            return
        var free = height - idGrip.height
        var ratio = free > 0 ? Math.max(0, Math.min(1, barY / free)) : 0
        flickable.contentY = flickable.originY + ratio * (contentHeight - viewHeight)
    }

    Rectangle {
        id: idGrip
        width: parent.width
        radius: width / 2
        color: idMouseArea.pressed || idMouseArea.containsMouse ? root.scrollColorFocused : root.scrollColor
        height: root.needed ? Math.max(Dimensions.y(24), root.height * root.viewHeight / root.contentHeight) : root.height
        y: {
            if (!root.flickable || !root.needed)
                return 0
            var range = root.contentHeight - root.viewHeight
            var pos = (root.flickable.contentY - root.flickable.originY) / range
            return Math.max(0, Math.min(1, pos)) * (root.height - height)
        }
    }

    AMouseArea {
        id: idMouseArea
        anchors.fill: parent
        anchors.leftMargin: -root.mouseAreaOffset
        anchors.rightMargin: -root.mouseAreaOffset
        hoverEnabled: true
        property real grabOffset: 0
        onPressed: {
            if (mouse.y >= idGrip.y && mouse.y <= idGrip.y + idGrip.height)
                grabOffset = mouse.y - idGrip.y
            else
                grabOffset = idGrip.height / 2
            root.scrollY(mouse.y - grabOffset)
        }
        onPositionChanged: {
            if (pressed)
                root.scrollY(mouse.y - grabOffset)
        }
    }
}
