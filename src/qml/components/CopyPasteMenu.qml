import QtQuick 2.11
import QtQuick.Controls 2.4

// Right-click menu with cut, copy and paste for a text input. Left clicks
// pass through to the input.
MouseArea {
    id: root

    property var textInput: null
    property int selectStart: 0
    property int selectEnd: 0
    property int curPos: 0

    acceptedButtons: Qt.RightButton
    cursorShape: Qt.IBeamCursor

    function showMenu(x, y) {
        if (!textInput)
            return
        selectStart = textInput.selectionStart
        selectEnd = textInput.selectionEnd
        curPos = textInput.cursorPosition
        idMenu.popup(x, y)
    }

    function restoreSelection() {
        textInput.cursorPosition = curPos
        textInput.select(selectStart, selectEnd)
    }

    onClicked: showMenu(mouse.x, mouse.y)

    Menu {
        id: idMenu

        readonly property bool isPassword: root.textInput && root.textInput.echoMode !== TextInput.Normal

        MenuItem {
            text: qsTr("Cut")
            enabled: !idMenu.isPassword && root.selectStart !== root.selectEnd
            onTriggered: {
                root.restoreSelection()
                root.textInput.cut()
            }
        }
        MenuItem {
            text: qsTr("Copy")
            enabled: !idMenu.isPassword && root.selectStart !== root.selectEnd
            onTriggered: {
                root.restoreSelection()
                root.textInput.copy()
            }
        }
        MenuItem {
            text: qsTr("Paste")
            enabled: root.textInput ? root.textInput.canPaste : false
            onTriggered: {
                root.restoreSelection()
                root.textInput.paste()
            }
        }
    }
}
