import QtQuick 2.11
import "../singletons"

// A selector list that lives inside a page: no slide, no categories.
AFocusScope {
    id: root

    property color background_color: "gray"
    property color back_background_color: "gray"
    property color back_line_color: Style.lineColor
    property color text_color: "white"
    property color selected_text_color: "blue"
    property color scrollBgColor: Style.selector_scrollBgColor
    property color scrollColor: Style.selector_scrollColor
    property string caption: qsTr("Select XXXXXX")
    property int sideOffset: Style.standart_side_offset
    property int selectedIndex: -1
    property int itemRowHeight: Dimensions.y(48)
    property bool itemTextWrap: false
    property int captionTextSize: Dimensions.py(17)
    property int itemTextSize: Dimensions.py(15)
    property bool needRightActionButton: false
    property bool debug: false
    property int columnSpacing: Dimensions.x(12)
    property bool topBackButtonVisible: false
    property var itemModel: null
    property Component delegate: null
    property alias listView: idList

    signal selected(var selectedItemId)

    visible: false

    function showView() {
        visible = true
        if (selectedIndex >= 0)
            idList.positionViewAtIndex(selectedIndex, ListView.Center)
    }

    function hideView() {
        visible = false
    }

    function doLocalBack() {
        hideView()
    }

    Rectangle {
        anchors.fill: parent
        color: root.background_color
    }

    AListView {
        id: idList
        anchors.fill: parent
        model: root.itemModel
        cacheBuffer: 100000
        delegate: SelectorItemRow {
            width: idList.width
            rowData: model
            callbacks: root.delegate
            selector: root
            onSelectedChanged: {
                if (selected)
                    root.selectedIndex = index
            }
            Component.onCompleted: {
                if (selected)
                    root.selectedIndex = index
            }
            onChosen: root.selected(itemId)
        }
    }

    ScrollForFlickable {
        anchors.top: idList.top
        anchors.bottom: idList.bottom
        anchors.right: parent.right
        anchors.rightMargin: Dimensions.x(4)
        flickable: idList
        scrollBgColor: root.scrollBgColor
        scrollColor: root.scrollColor
    }
}
