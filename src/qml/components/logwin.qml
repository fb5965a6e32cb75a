import QtQuick 2.11
import QtQuick.Window 2.2
import QtQuick.Controls 2.4

// The connection log.
Window {
    id: root

    width: 800
    height: 800
    color: "#eeeeee"
    modality: Qt.WindowModal
    title: qsTr("Connection log")

    function reload() {
        idTextArea.text = viewmodel.getLogText()
        idTextArea.cursorPosition = idTextArea.length
        idFlickable.contentY = Math.max(0, idFlickable.contentHeight - idFlickable.height)
    }

    Component.onCompleted: reload()

    Item {
        anchors.fill: parent
        focus: true
        Keys.onEscapePressed: root.close()
        Keys.onBackPressed: root.close()

        Flickable {
            id: idFlickable
            anchors.top: parent.top
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: idButtons.top
            anchors.margins: 8
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar { policy: ScrollBar.AlwaysOn }

            TextArea.flickable: TextArea {
                id: idTextArea
                objectName: "LogText"
                readOnly: true
                selectByMouse: true
                textFormat: TextEdit.PlainText
                wrapMode: TextEdit.WrapAnywhere
                font.family: "monospace"
                font.pixelSize: 12
                color: "black"
            }
        }

        Row {
            id: idButtons
            anchors.bottom: parent.bottom
            anchors.right: parent.right
            anchors.margins: 8
            spacing: 8

            Button {
                text: qsTr("save log")
                onClicked: viewmodel.saveLog()
            }
            Button {
                text: qsTr("close")
                visible: viewmodel.isOSX()
                onClicked: root.close()
            }
        }
    }
}
