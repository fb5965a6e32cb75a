import QtQuick 2.11
import "../singletons"

// A two-state switch drawn with the skin's "btn_on" and "btn_off" images.
// A click turns it over and reports the new state.
ARectangle {
    id: root

    property bool checked: false
    property alias imageItem: idImage

    signal toggled(bool checked)

    implicitWidth: Dimensions.x(64)
    implicitHeight: Dimensions.y(32)

    AImage {
        id: idImage
        anchors.fill: parent
        fillMode: Image.PreserveAspectFit
        source: Resources.png(root.checked ? "btn_on" : "btn_off")
    }

    AMouseArea {
        anchors.fill: parent
        enabled: root.enabled
        cursorShape: Qt.PointingHandCursor
        onClicked: {
            root.checked = !root.checked
            root.toggled(root.checked)
        }
    }
}
