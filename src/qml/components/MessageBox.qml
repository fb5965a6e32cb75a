import QtQuick 2.11
import "../singletons"

// The toast: a white box sliding up over a dimmed window. A click anywhere
// closes it. Its texts may quote a server's answer, so they are never
// taken as markup.
ARectangle {
    id: root

    property bool shown: false
    property alias text: idText.text
    property alias details: idTextDetails.text

    visible: false
    z: 100

    function showMessageBox(text, details) {
        idText.text = text ? text : ""
        idTextDetails.text = details ? details : ""
        visible = true
        shown = true
    }

    function close() {
        shown = false
    }

    Rectangle {
        id: idShade
        anchors.fill: parent
        color: "#BB151628"
        opacity: root.shown ? 1 : 0
        Behavior on opacity {
            NumberAnimation {
                duration: Style.animationTime
                onRunningChanged: {
                    if (!running && !root.shown)
                        root.visible = false
                }
            }
        }
    }

    Rectangle {
        id: idBox
        width: parent.width - 2 * Style.standart_side_offset
        anchors.horizontalCenter: parent.horizontalCenter
        height: idColumn.height + Dimensions.y(40)
        radius: Dimensions.x(8)
        color: "white"
        y: root.shown ? (parent.height - height) / 2 : parent.height
        Behavior on y { NumberAnimation { duration: Style.animationTime; easing.type: Easing.OutCubic } }

        Column {
            id: idColumn
            anchors.verticalCenter: parent.verticalCenter
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.margins: Dimensions.x(20)
            spacing: Dimensions.y(10)

            AMontserratText {
                id: idText
                objectName: "MessageBox_text"
                width: parent.width
                textFormat: Text.PlainText
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.WordWrap
                demiBold: true
                font.pixelSize: Dimensions.py(16)
                color: "black"
            }
            AMontserratText {
                id: idTextDetails
                objectName: "MessageBox_details"
                width: parent.width
                textFormat: Text.PlainText
                visible: text !== ""
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.WordWrap
                font.pixelSize: Dimensions.py(13)
                color: "black"
            }
        }
    }

    AMouseArea {
        anchors.fill: parent
        enabled: root.shown
        onClicked: root.close()
    }
}
