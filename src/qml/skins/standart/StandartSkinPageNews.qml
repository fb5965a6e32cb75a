import QtQuick 2.11
import "../../components"
import "../../singletons"

StandartSkinPageCustom {
    id: root
    objectName: "StandartSkinPageNews"
    screenName: qsTr("News")

    // News count as read once the page stayed open for three seconds.
    Timer {
        id: idNewsReadedTimer
        interval: 3000
        running: root.pageCompleted
        onTriggered: viewmodel.onNewsReaded()
    }

    AListView {
        id: idList
        objectName: "NewsList"
        anchors.fill: parent
        anchors.leftMargin: Style.standart_side_offset
        anchors.rightMargin: Style.standart_side_offset
        model: viewmodel.news
        spacing: Dimensions.y(8)
        Component.onCompleted: Style.setupMaximumFlickVelocity(idList)

        header: Item {
            width: idList.width
            height: Dimensions.y(44)
            AMontserratText {
                anchors.verticalCenter: parent.verticalCenter
                text: qsTr("Latest News")
                demiBold: true
                font.pixelSize: Dimensions.py(18)
            }
        }

        delegate: GrayRect {
            readonly property var news: model.newsRaw
            width: idList.width
            height: idNewsColumn.height + 2 * verticalMargins
            canBeClicked: true
            onClicked: {
                if (news && news.url !== "")
                    viewmodel.linkAktivated(news.url)
            }

            Column {
                id: idNewsColumn
                x: parent.horizontalMargins
                y: parent.verticalMargins
                width: parent.width - 2 * parent.horizontalMargins
                spacing: Dimensions.y(4)

                AMontserratText {
                    text: news ? viewmodel.newsDateString(news.date) : ""
                    opacity: 0.5
                    font.pixelSize: Dimensions.py(11)
                }
                AMontserratText {
                    width: parent.width
                    text: news ? news.text : ""
                    wrapMode: Text.WordWrap
                    demiBold: true
                    font.pixelSize: Dimensions.py(14)
                }
            }
        }
    }

    ScrollForFlickable {
        anchors.top: idList.top
        anchors.bottom: idList.bottom
        anchors.right: parent.right
        anchors.rightMargin: Dimensions.x(6)
        flickable: idList
        scrollColor: "gray"
    }
}
