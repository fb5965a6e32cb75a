import QtQuick 2.11
import QtQuick.Window 2.2
import QtQuick.Controls 2.4
import "components"

// Troubleshooting help.
Window {
    id: root

    width: 600
    height: 800
    color: "#eeeeee"
    modality: Qt.WindowModal
    title: qsTr("Help")

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
            anchors.bottom: idClose.visible ? idClose.top : parent.bottom
            anchors.margins: 16
            contentWidth: width
            contentHeight: idText.height
            boundsBehavior: Flickable.StopAtBounds
            clip: true

            Text {
                id: idText
                width: idFlickable.width - 16
                wrapMode: Text.WordWrap
                textFormat: Text.RichText
                color: "black"
                text: viewmodel.getWindowsTroubleshootHelpText()
                onLinkActivated: viewmodel.linkAktivated(link)
            }
        }

        ScrollForFlickable {
            anchors.top: idFlickable.top
            anchors.bottom: idFlickable.bottom
            anchors.right: parent.right
            anchors.rightMargin: 4
            flickable: idFlickable
            scrollBgColor: "#cccccc"
            scrollColor: "#aaaaaa"
        }

        Button {
            id: idClose
            anchors.bottom: parent.bottom
            anchors.right: parent.right
            anchors.margins: 8
            text: qsTr("close")
            visible: viewmodel.isOSX()
            onClicked: root.close()
        }
    }
}
