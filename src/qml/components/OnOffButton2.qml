import QtQuick 2.11
import "../singletons"

// The on/off switch of a connection: off, on, or on its way ("inProcess",
// drawn with "btn_on_process"). A click only asks (clicked()); the owner
// sets the state it binds to.
ARectangle {
    id: root

    property bool checked: false
    property bool inProcess: false
    property alias imageItem: idImage

    signal clicked()

    implicitWidth: Dimensions.x(64)
    implicitHeight: Dimensions.y(32)

    AImage {
        id: idImage
        anchors.fill: parent
        fillMode: Image.PreserveAspectFit
        source: Resources.png(root.inProcess ? "btn_on_process" : (root.checked ? "btn_on" : "btn_off"))
    }

    AMouseArea {
        anchors.fill: parent
        enabled: root.enabled
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }
}
