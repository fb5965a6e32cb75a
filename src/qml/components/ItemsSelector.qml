import QtQuick 2.11
import "../singletons"

// A list of choices sliding in over the skin. The user supplies the list
// (itemModel) and, as `delegate`, the callbacks that describe each row;
// the choice comes back as selected(id).
AFocusScope {
    id: root

    property color background_color: Style.selector_background
    property color back_background_color: Style.shadowColor
    property color back_line_color: Style.selector_categoryLineColor
    property color text_color: Style.selector_text_color
    property color selected_text_color: Style.selector_text_color_selected
    property color scrollBgColor: Style.selector_scrollBgColor
    property color scrollColor: Style.selector_scrollColor
    property string caption: qsTr("Select XXXXXX")
    property int sideOffset: Style.standart_side_offset
    property int selectedIndex: -1
    property int itemRowHeight: Dimensions.y(52)
    property bool itemTextWrap: false
    property int captionTextSize: Dimensions.py(17)
    property int itemTextSize: Dimensions.py(15)
    property bool needRightActionButton: false
    property bool debug: false
    property int columnSpacing: Dimensions.x(12)
    property bool topBackButtonVisible: true
    property var itemModel: null
    property Component delegate: null

    property real hidedPos: width
    property real showedPos: 0
    property int showDuration: Style.animationTime
    property bool opened: false
    property alias listView: idList

    signal selected(var selectedItemId)

    visible: false

    function showView() {
        idHideTimer.stop()
        visible = true
        opened = true
        forceActiveFocus()
        idList.positionViewAtIndex(Math.max(0, selectedIndex), ListView.Center)
    }

    function hideView() {
        opened = false
        idHideTimer.restart()
    }

    function doLocalBack() {
        hideView()
    }

    Keys.onEscapePressed: doLocalBack()
    Keys.onBackPressed: doLocalBack()

    Timer {
        id: idHideTimer
        interval: root.showDuration
        onTriggered: root.visible = false
    }

    Rectangle {
        id: idShadow
        anchors.fill: parent
        color: "#99444444"
        opacity: root.opened ? 1 : 0
        Behavior on opacity { NumberAnimation { duration: root.showDuration } }

        AMouseArea {
            anchors.fill: parent
            onClicked: root.doLocalBack()
        }
    }

    Rectangle {
        id: idPanel
        objectName: "SelectorPanel"
        width: parent.width
        height: parent.height
        x: root.opened ? root.showedPos : root.hidedPos
        color: root.background_color
        Behavior on x { NumberAnimation { duration: root.showDuration; easing.type: Easing.OutCubic } }

        // Swallows clicks on empty parts of the panel.
        AMouseArea { anchors.fill: parent }

        SelectorHeader {
            id: idHeader
            width: parent.width
            selector: root
        }

        AListView {
            id: idList
            anchors.top: idHeader.bottom
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
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
                onChosen: {
                    root.selected(itemId)
                    root.hideView()
                }
            }
            Component.onCompleted: Style.setupMaximumFlickVelocity(idList)
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
}
