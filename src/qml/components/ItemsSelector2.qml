import QtQuick 2.11
import CustomComponents 1.0
import "../singletons"

// The location chooser: like ItemsSelector, plus a row of categories, a
// switch between all items and the favourites, a star per item and a
// refresh button.
AFocusScope {
    id: root

    property color background_color: Style.selector_background
    property color back_background_color: Style.shadowColor
    property color back_line_color: Style.selector_categoryLineColor
    property color text_color: Style.selector_text_color
    property color selected_text_color: Style.selector_text_color_selected
    property color category_text_color: Style.comment_text_color
    property color scrollBgColor: Style.selector_scrollBgColor
    property color scrollColor: Style.selector_scrollColor
    property color scrollColorFocused: Style.selector_scrollColorFocused
    property color categoryLineColor: Style.selector_categoryLineColor
    property string caption: qsTr("Select XXXXXX")
    property int sideOffset: Style.standart_side_offset
    property int selectedIndex: -1
    property int itemRowHeight: Dimensions.y(52)
    property bool itemTextWrap: false
    property int captionTextSize: Dimensions.py(17)
    property int itemTextSize: Dimensions.py(15)
    property int categoryTextSize: Dimensions.py(13)
    property bool needRightActionButton: true
    property bool debug: false
    property int columnSpacing: Dimensions.x(12)
    property bool topBackButtonVisible: true
    property var itemModel: null
    property Component delegate: null

    property var categoryModel: null
    property var favoriteModel: null
    property int categoryCount: 2
    property int categoryHeight: Dimensions.y(40)
    // -1: every category.
    property int selectedCategoryIndex: -1
    property bool favorite: false
    property Component categoryDelegate: null

    property real hidedPos: width
    property real showedPos: 0
    property int showDuration: Style.animationTime
    property bool opened: false
    property alias listView: idList

    signal selected(var selectedItemId)
    signal categorySelected(var selectedSelectedId)
    signal refresh()

    visible: false

    function categoryId(index) {
        if (index < 0)
            return ""
        var chip = idCategoryRepeater.itemAt(index)
        return chip ? chip.call("getId", "") : ""
    }

    function selectCategoryByIndex(index) {
        selectedCategoryIndex = index
        categorySelected(categoryId(index))
        completeScrollToCurrentLocation()
    }

    function showView() {
        idHideTimer.stop()
        visible = true
        opened = true
        forceActiveFocus()
        scrollToCurrentLocation()
        completeScrollToCurrentLocation()
    }

    function hideView() {
        opened = false
        idHideTimer.restart()
    }

    function doLocalBack() {
        hideView()
    }

    function scrollToCurrentLocation() {
        if (selectedIndex >= 0 && selectedIndex < idList.count)
            idList.positionViewAtIndex(selectedIndex, ListView.Center)
        else
            idList.positionViewAtBeginning()
        var chip = idCategoryRepeater.itemAt(selectedCategoryIndex)
        var target = chip ? chip : idAllChip
        idCategoryFlick.contentX = Math.max(0, Math.min(target.x - idCategoryFlick.width / 2 + target.width / 2,
                                                        idCategoryFlick.contentWidth - idCategoryFlick.width))
    }

    // The list fills in after a category change; scroll once it has.
    function completeScrollToCurrentLocation() {
        idPromise.resetAndExecutePromise("item.scrollToCurrentLocation()")
    }

    Keys.onEscapePressed: doLocalBack()
    Keys.onBackPressed: doLocalBack()

    PromiseTimer {
        id: idPromise
        debug: root.debug
        item: root
    }

    Timer {
        id: idHideTimer
        interval: root.showDuration
        onTriggered: root.visible = false
    }

    Rectangle {
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

        AMouseArea { anchors.fill: parent }

        SelectorHeader {
            id: idHeader
            width: parent.width
            selector: root

            rightActionItem: Item {
                anchors.fill: parent
                visible: root.needRightActionButton

                AImage {
                    anchors.centerIn: parent
                    width: Dimensions.x(20)
                    height: width
                    source: Resources.png("refresh")
                }
                Ripple {
                    id: idRefreshRipple
                    anchors.fill: parent
                    color: Style.standart_ripple_color
                    opacity: 0.3
                }
                AMouseArea {
                    objectName: "SelectorRefreshButton"
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: {
                        idRefreshRipple.start(mouse.x, mouse.y)
                        root.refresh()
                    }
                }
            }
        }

        LeftRightSwitcher {
            id: idSwitcher
            anchors.top: idHeader.bottom
            anchors.topMargin: Dimensions.y(12)
            anchors.horizontalCenter: parent.horizontalCenter
            width: Math.min(parent.width - 2 * root.sideOffset, Dimensions.x(260))
            leftText: qsTr("All")
            rightText: qsTr("Favorites")
            leftSelected: !root.favorite
            borderColor: root.categoryLineColor
            unselectedColor: "transparent"
            selectedColor: Style.bright_color
            selectedTextColor: "white"
            unselectedTextColor: root.text_color
            onLeftClicked: root.favorite = false
            onRightClicked: root.favorite = true
        }

        Item {
            id: idCategories
            anchors.top: idSwitcher.bottom
            anchors.topMargin: Dimensions.y(8)
            width: parent.width
            height: root.favorite ? 0 : root.categoryHeight
            visible: !root.favorite
            clip: true

            Flickable {
                id: idCategoryFlick
                anchors.fill: parent
                anchors.leftMargin: root.sideOffset / 2
                anchors.rightMargin: root.sideOffset / 2
                contentWidth: idCategoryRow.width
                contentHeight: height
                flickableDirection: Flickable.HorizontalFlick
                boundsBehavior: Flickable.StopAtBounds
                clip: true

                Row {
                    id: idCategoryRow
                    height: parent.height

                    CategoryChip {
                        id: idAllChip
                        selector: root
                        chipIndex: -1
                        fixedCaption: qsTr("All regions")
                    }
                    ARepeater {
                        id: idCategoryRepeater
                        model: root.categoryModel
                        delegate: CategoryChip {
                            selector: root
                            chipIndex: index
                            rowData: model
                            callbacks: root.categoryDelegate
                        }
                    }
                }
            }

            LineWithArrow {
                id: idArrowLine
                anchors.bottom: parent.bottom
                width: parent.width
                height: Dimensions.y(6)
                penWidth: 1
                color: root.categoryLineColor
                smooth: true
                arrowX: {
                    var chip = root.selectedCategoryIndex < 0 ? idAllChip
                                                              : idCategoryRepeater.itemAt(root.selectedCategoryIndex)
                    if (!chip)
                        return -1
                    return idCategoryFlick.x + chip.x + chip.width / 2 - idCategoryFlick.contentX
                }
            }
        }

        AListView {
            id: idList
            objectName: "SelectorList"
            anchors.top: idCategories.bottom
            anchors.topMargin: Dimensions.y(4)
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            model: root.favorite ? root.favoriteModel : root.itemModel
            cacheBuffer: 100000
            onModelChanged: root.selectedIndex = -1
            delegate: SelectorItemRow {
                width: idList.width
                rowData: model
                callbacks: root.delegate
                selector: root
                withFavorites: true
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

        AText {
            anchors.centerIn: idList
            width: idList.width - 2 * root.sideOffset
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            visible: idList.count === 0
            defColor: Style.comment_text_color
            text: root.favorite ? qsTr("No favourite locations yet: mark one with its star.")
                                : qsTr("No locations to show.")
        }

        ScrollForFlickable {
            anchors.top: idList.top
            anchors.bottom: idList.bottom
            anchors.right: parent.right
            anchors.rightMargin: Dimensions.x(4)
            flickable: idList
            scrollBgColor: root.scrollBgColor
            scrollColor: root.scrollColor
            scrollColorFocused: root.scrollColorFocused
        }
    }
}
