import QtQuick 2.11
import QtQuick.Layouts 1.1
import "../../components"
import "../../singletons"

// The standard skin's chooser field: flags, a text and a drop-down mark;
// clicked() opens the matching selector.
ARectangle {
    id: root

    property alias text: idText.text
    property string firstFlagSource: ""
    property string secondFlagSource: ""
    property color textColor: Style.text_color_1
    property color borderColor: "#C2C5CD"
    property bool canWrapText: false
    property int verticalMargins: Dimensions.y(10)

    signal clicked()

    implicitHeight: Math.max(Dimensions.y(46), idText.implicitHeight + 2 * verticalMargins)
    radius: Dimensions.x(8)
    color: idMouseArea.pressed ? Style.footer_selected_button_bg : Style.grayRectColor
    border.width: 1
    border.color: enabled ? Style.selectColor(Qt.rgba(1, 1, 1, 0.18), borderColor) : Style.disableColor2(Style.lineColor)

    ARowLayout {
        anchors.fill: parent
        anchors.leftMargin: Dimensions.x(14)
        anchors.rightMargin: Dimensions.x(14)
        spacing: Dimensions.x(10)
        opacity: root.enabled ? 1.0 : 0.45

        ARowLayout {
            spacing: -Dimensions.x(6)
            visible: root.firstFlagSource !== ""
            CircleImage {
                source: root.firstFlagSource
                Layout.preferredWidth: Dimensions.x(24)
                Layout.preferredHeight: Dimensions.x(24)
            }
            CircleImage {
                visible: root.secondFlagSource !== ""
                source: root.secondFlagSource
                Layout.preferredWidth: Dimensions.x(24)
                Layout.preferredHeight: Dimensions.x(24)
            }
        }

        AMontserratText {
            id: idText
            objectName: "GrayComboBoxText"
            Layout.fillWidth: true
            color: root.textColor
            demiBold: true
            font.pixelSize: Dimensions.py(14)
            wrapMode: root.canWrapText ? Text.WordWrap : Text.NoWrap
            elide: root.canWrapText ? Text.ElideNone : Text.ElideRight
            verticalAlignment: Text.AlignVCenter
        }

        AImage {
            source: Resources.svg("path")
            sourceSize.width: width
            sourceSize.height: height
            Layout.preferredWidth: Dimensions.x(14)
            Layout.preferredHeight: Dimensions.x(14)
        }
    }

    AMouseArea {
        id: idMouseArea
        anchors.fill: parent
        enabled: root.enabled
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }
}
