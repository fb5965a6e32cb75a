import QtQuick 2.11
import QtGraphicalEffects 1.0

// An image cut to a circle (the flags), on a disc of fillColor. The
// software renderer has no shader effects: there the image is shown square.
ARectangle {
    id: root

    readonly property bool canMask: root.GraphicsInfo.api !== GraphicsInfo.Software

    property int additionalImageMargins: 0
    property alias source: idImage.source
    property alias fillColor: idDisc.color
    property alias imageItem: idImage

    Rectangle {
        id: idDisc
        anchors.fill: parent
        radius: width / 2
        color: "transparent"
    }

    Image {
        id: idImage
        anchors.fill: parent
        anchors.margins: root.additionalImageMargins
        fillMode: Image.PreserveAspectCrop
        smooth: true
        mipmap: true
        visible: !root.canMask
    }

    Rectangle {
        id: idMask
        anchors.fill: idImage
        radius: width / 2
        visible: false
    }

    OpacityMask {
        anchors.fill: idImage
        source: idImage
        maskSource: idMask
        visible: root.canMask && idImage.status === Image.Ready
    }
}
