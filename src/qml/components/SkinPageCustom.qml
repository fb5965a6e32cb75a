import QtQuick 2.11
import QtQuick.Controls 2.4
import "../singletons"

// Base of every page shown in a skin's page stack.
FocusScope {
    id: root

    property string screenName: qsTr("[unknown]")
    // Becomes true just after creation, once bindings have settled.
    property bool pageCompleted: false
    property bool captionVisible: false
    readonly property bool active: StackView.status === StackView.Active
                                   || StackView.status === StackView.Activating
    property alias innerNowhereFocus: idNowhere

    function forceActiveFocusToInnerNowhere() {
        idNowhere.forceActiveFocus()
    }

    Timer {
        interval: 0
        running: true
        onTriggered: root.pageCompleted = true
    }

    // Takes the keyboard focus away from inputs (click on empty space).
    FocusScope {
        id: idNowhere
        objectName: "FocusScope_idNowhere"
        width: 0
        height: 0
    }

    AText {
        id: idCaption
        visible: root.captionVisible
        text: root.screenName
        anchors.horizontalCenter: parent.horizontalCenter
        y: Dimensions.y(8)
        font.pixelSize: Dimensions.py(18)
    }
}
