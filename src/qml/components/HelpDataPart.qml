import QtQuick 2.11
import "../singletons"

// The light skin's help: every section with its links.
AListView {
    id: root

    model: viewmodel.helpSections
    spacing: Dimensions.y(14)

    delegate: Column {
        readonly property var section: model.helpSectionRaw
        width: root.width
        spacing: Dimensions.y(6)

        AMontserratText {
            width: parent.width
            text: section ? section.name : ""
            color: Style.light_text_color_1
            demiBold: true
            font.pixelSize: Dimensions.py(15)
        }
        CommentText {
            width: parent.width
            visible: text !== ""
            text: section ? section.comment : ""
            color: Style.light_line_color
        }
        ARepeater {
            model: section ? section.items : null
            delegate: AText {
                readonly property var helpItem: model.helpItemRaw
                width: root.width
                wrapMode: Text.WordWrap
                objectName: "HelpItemLink"
                text: helpItem ? viewmodel.makeTextLink(helpItem.url, helpItem.name) : ""
                defColor: Style.light_text_color_2
                AMouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: {
                        if (parent.helpItem)
                            viewmodel.linkAktivated(parent.helpItem.url)
                    }
                }
            }
        }
    }
}
