import QtQuick 2.11
import QtQuick.Layouts 1.1
import "../singletons"

// Looks like a combo box, opens whatever its owner shows on clicked().
ARectangle {
    id: root

    property color textColor: "white"
    property color borderColor: Style.lineColor
    property string firstFlagSource: ""
    property string secondFlagSource: ""
    property int commonSideMargin: Dimensions.x(14)
    property alias text: idText.text
    property alias textItem: idText

    signal clicked()

    implicitHeight: Dimensions.y(44)
    radius: height / 2
    border.width: 1
    border.color: enabled ? borderColor : Style.disableColor(borderColor)
    color: idMouseArea.pressed ? Style.footer_selected_button_bg : "transparent"

    ARowLayout {
        anchors.fill: parent
        anchors.leftMargin: root.commonSideMargin
        anchors.rightMargin: root.commonSideMargin
        spacing: Dimensions.x(8)

        CircleImage {
            visible: root.firstFlagSource !== ""
            source: root.firstFlagSource
            Layout.preferredWidth: Dimensions.x(22)
            Layout.preferredHeight: Dimensions.x(22)
        }
        CircleImage {
            visible: root.secondFlagSource !== ""
            source: root.secondFlagSource
            Layout.preferredWidth: Dimensions.x(22)
            Layout.preferredHeight: Dimensions.x(22)
        }
        AText {
            id: idText
            Layout.fillWidth: true
            elide: Text.ElideRight
            defColor: root.enabled ? root.textColor : Style.disableColor(root.textColor)
            verticalAlignment: Text.AlignVCenter
        }
        AImage {
            source: Resources.png("combobox_dropdown")
            opacity: root.enabled ? 1.0 : 0.4
            Layout.preferredWidth: Dimensions.x(12)
            Layout.preferredHeight: Dimensions.x(12)
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
