import QtQuick 2.11
import "../singletons"

// A clickable text.
ARectangle {
    id: root

    property color textColor: Style.text_color_3
    property color disabledTextColor: "gray"
    property int additionalWidth: 0
    property int additionalHeight: 0
    property bool bold: false

    property alias textItem: idText
    property alias mouseArea: idMouseArea
    property alias text: idText.text
    property alias pixelSize: idText.font.pixelSize

    signal clicked()

    implicitWidth: idText.implicitWidth + additionalWidth
    implicitHeight: idText.implicitHeight + additionalHeight

    AText {
        id: idText
        anchors.centerIn: parent
        defColor: root.enabled ? root.textColor : root.disabledTextColor
        font.bold: root.bold
        font.underline: idMouseArea.containsMouse && root.enabled
    }

    AMouseArea {
        id: idMouseArea
        anchors.fill: parent
        hoverEnabled: true
        enabled: root.enabled
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }
}
