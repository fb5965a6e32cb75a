import QtQuick 2.11
import QtQuick.Layouts 1.1
import "../singletons"

// One row of a selector list. The selector's user gives, as `callbacks`, a
// Component whose object answers for the row (getCaptionString, getId,
// isSelected ...); it reads the row's roles through `row`. Missing
// callbacks fall back to neutral answers.
Item {
    id: root

    property var rowData: null
    property Component callbacks: null
    property var selector: null
    property bool withFavorites: false

    readonly property var cb: idCallbacks.item
    readonly property bool available: call("getAvailable", true)
    readonly property bool selected: call("isSelected", false)
    readonly property string caption: call("getCaptionString", "")
    readonly property string subCaption: call("getSubCaptionString", "")
    readonly property string exInfo: call("getExInfoString", "")
    readonly property string firstFlag: call("getFirstFlag", "")
    readonly property string secondFlag: call("getSecondFlag", "")
    readonly property bool favorite: call("getFavorite", false)

    signal chosen(var itemId)

    function call(name, fallback) {
        if (!cb || typeof cb[name] !== "function")
            return fallback
        var result = cb[name]()
        return (result === undefined || result === null) ? fallback : result
    }

    height: selector ? selector.itemRowHeight : Dimensions.y(52)

    Loader {
        id: idCallbacks
        property var row: root.rowData
        sourceComponent: root.callbacks
    }

    Rectangle {
        anchors.fill: parent
        color: idMouseArea.containsMouse && root.available ? Style.footer_selected_button_bg : "transparent"
    }

    Rectangle {
        width: Dimensions.x(3)
        height: parent.height
        color: Style.bright_color
        visible: root.selected
    }

    ARowLayout {
        anchors.fill: parent
        anchors.leftMargin: selector ? selector.sideOffset : 0
        anchors.rightMargin: selector ? selector.sideOffset : 0
        spacing: selector ? selector.columnSpacing : Dimensions.x(12)
        opacity: root.available ? 1.0 : 0.5

        // Room for two overlapping flags, so the captions line up.
        ARowLayout {
            spacing: -Dimensions.x(6)
            visible: root.firstFlag !== ""
            Layout.preferredWidth: Dimensions.x(42)
            CircleImage {
                source: root.firstFlag
                Layout.preferredWidth: Dimensions.x(24)
                Layout.preferredHeight: Dimensions.x(24)
            }
            CircleImage {
                visible: root.secondFlag !== ""
                source: root.secondFlag
                Layout.preferredWidth: Dimensions.x(24)
                Layout.preferredHeight: Dimensions.x(24)
            }
        }

        AColumnLayout {
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignVCenter
            AMontserratText {
                objectName: "SelectorItemCaption"
                Layout.fillWidth: true
                text: root.caption + (root.available ? "" : qsTr(" (unavailable)"))
                color: root.selected && selector ? selector.selected_text_color
                                                 : (selector ? selector.text_color : Style.text_color_1)
                demiBold: root.selected
                font.pixelSize: selector ? selector.itemTextSize : Dimensions.py(15)
                elide: selector && selector.itemTextWrap ? Text.ElideNone : Text.ElideRight
                wrapMode: selector && selector.itemTextWrap ? Text.WordWrap : Text.NoWrap
            }
            AMontserratText {
                Layout.fillWidth: true
                visible: text !== ""
                text: root.subCaption
                color: Style.comment_text_color
                font.pixelSize: Dimensions.py(12)
                elide: Text.ElideRight
            }
        }

        AMontserratText {
            visible: text !== ""
            text: root.exInfo
            color: Style.comment_text_color
            font.pixelSize: Dimensions.py(12)
        }

        AImage {
            visible: root.withFavorites
            source: root.withFavorites ? Resources.svg(root.favorite ? "star_2_selected" : "star_2") : ""
            sourceSize.width: width
            sourceSize.height: height
            Layout.preferredWidth: Dimensions.x(20)
            Layout.preferredHeight: Dimensions.x(20)

            AMouseArea {
                anchors.fill: parent
                anchors.margins: -Dimensions.x(8)
                cursorShape: Qt.PointingHandCursor
                onClicked: root.call("favoriteClicked", undefined)
            }
        }
    }

    Rectangle {
        anchors.bottom: parent.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: selector ? selector.sideOffset : 0
        anchors.rightMargin: selector ? selector.sideOffset : 0
        height: 1
        color: selector ? selector.back_line_color : Style.lineColor
    }

    AMouseArea {
        id: idMouseArea
        anchors.fill: parent
        z: -1
        hoverEnabled: true
        enabled: root.available
        cursorShape: Qt.PointingHandCursor
        onClicked: root.chosen(root.call("getId", ""))
    }
}
