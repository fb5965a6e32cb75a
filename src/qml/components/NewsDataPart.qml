import QtQuick 2.11
import "../singletons"

// The light skin's news list. News count as read after three seconds.
AListView {
    id: root

    model: viewmodel.news
    spacing: Dimensions.y(12)

    Timer {
        id: idNewsReadedTimer
        interval: 3000
        running: root.visible
        onTriggered: viewmodel.onNewsReaded()
    }

    delegate: Column {
        id: idNewsItem
        readonly property var news: model.newsRaw
        width: root.width
        spacing: Dimensions.y(4)

        AText {
            text: news ? viewmodel.newsDateString(news.date) : ""
            defColor: Style.light_line_color
            font.pixelSize: Dimensions.py(11)
        }
        AText {
            width: parent.width
            wrapMode: Text.WordWrap
            objectName: "NewsItemLink"
            // A news item with an address reads as a link.
            text: !news ? "" : (news.url !== "" ? viewmodel.makeTextLink(news.url, news.text, Style.light_text_color_1)
                                                : news.text)
            defColor: Style.light_text_color_1
            AMouseArea {
                anchors.fill: parent
                cursorShape: Qt.PointingHandCursor
                onClicked: {
                    if (idNewsItem.news && idNewsItem.news.url !== "")
                        viewmodel.linkAktivated(idNewsItem.news.url)
                }
            }
        }
    }
}
