import QtQuick 2.11
import "../singletons"

// One category tab of ItemsSelector2.
Item {
    id: root

    property var selector: null
    property int chipIndex: -1
    property var rowData: null
    property Component callbacks: null
    property string fixedCaption: ""

    readonly property var cb: idCallbacks.item
    readonly property bool selected: selector && selector.selectedCategoryIndex === chipIndex
    readonly property string caption: fixedCaption !== "" ? fixedCaption : call("getCaptionString", "")

    function call(name, fallback) {
        if (!cb || typeof cb[name] !== "function")
            return fallback
        var result = cb[name]()
        return (result === undefined || result === null) ? fallback : result
    }

    width: idText.implicitWidth + Dimensions.x(24)
    height: parent ? parent.height : Dimensions.y(40)

    Loader {
        id: idCallbacks
        property var row: root.rowData
        sourceComponent: root.callbacks
    }

    AMontserratText {
        id: idText
        anchors.centerIn: parent
        text: root.caption
        demiBold: root.selected
        font.pixelSize: selector ? selector.categoryTextSize : Dimensions.py(13)
        color: root.selected ? (selector ? selector.selected_text_color : Style.bright_color)
                             : (selector ? selector.category_text_color : Style.comment_text_color)
    }

    AMouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: selector.selectCategoryByIndex(root.chipIndex)
    }
}
