import QtQuick 2.11

// A Montserrat text in a box of its own size: for absolute placement.
ARectangle {
    property alias text: idText.text
    property alias textItem: idText
    property alias textColor: idText.color
    property alias bold: idText.bold
    property alias demiBold: idText.demiBold
    property alias thin: idText.thin
    property alias light: idText.light
    property alias pixelSize: idText.font.pixelSize

    implicitWidth: idText.implicitWidth
    implicitHeight: idText.implicitHeight

    AMontserratText {
        id: idText
        anchors.fill: parent
        verticalAlignment: Text.AlignVCenter
    }
}
