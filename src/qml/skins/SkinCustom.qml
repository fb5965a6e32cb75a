import QtQuick 2.11
import "../components"
import "../singletons"

// Base of the skins: the page numbers, the current page and the signals the
// window listens to.
ARectangle {
    id: root

    property string fileName: ""
    property int currentPageNum: -1
    property alias bkg: idBackground

    signal skinChange()
    signal pageSelected(int pageNum)
    signal windowMinimizeClicked()
    signal windowMaximizeClicked()
    signal windowCloseClicked()

    function pageNumConnect() { return 0 }
    function pageNumPreferences() { return 1 }
    function pageNumAdvanced() { return 2 }
    function pageNumNews() { return 3 }
    function pageNumHelp() { return 4 }
    function pageNumAccount() { return 5 }
    function pageNumDebug() { return 6 }

    function selectPage(pageNum) {
        if (currentPageNum === pageNum)
            return
        currentPageNum = pageNum
        pageSelected(pageNum)
    }

    Background {
        id: idBackground
        anchors.fill: parent
        color1: Style.backgroundColor1
        color2: Style.backgroundColor2
    }
}
