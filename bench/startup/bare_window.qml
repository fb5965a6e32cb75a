import QtQuick 2.11
import QtQuick.Window 2.2
import QtQuick.Controls 2.4
import QtQuick.Layouts 1.1
import QtGraphicalEffects 1.0

// The yardstick: a window of the client's size importing the same Qt
// modules, with a little in it.
ApplicationWindow {
    width: 450
    height: 690
    title: "bare"
    color: "#092741"

    ColumnLayout {
        anchors.centerIn: parent
        Rectangle {
            Layout.alignment: Qt.AlignHCenter
            width: 120
            height: 120
            radius: 60
            color: "#1869DC"
        }
        Text {
            Layout.alignment: Qt.AlignHCenter
            text: "bare window"
            color: "white"
        }
    }
}
