import QtQuick 2.11
import "../../components"
import "../../singletons"

StandartSkinPageCustom {
    id: root
    objectName: "StandartSkinPageHelp"
    screenName: qsTr("Help")

    AListView {
        id: idList
        objectName: "HelpList"
        anchors.fill: parent
        anchors.leftMargin: Style.standart_side_offset
        anchors.rightMargin: Style.standart_side_offset
        model: viewmodel.helpSections
        spacing: Dimensions.y(8)
        Component.onCompleted: Style.setupMaximumFlickVelocity(idList)

        header: Column {
            width: idList.width
            spacing: Dimensions.y(8)

            Item {
                width: parent.width
                height: Dimensions.y(44)
                AMontserratText {
                    anchors.verticalCenter: parent.verticalCenter
                    text: qsTr("Help")
                    demiBold: true
                    font.pixelSize: Dimensions.py(18)
                }
            }
            GrayRect {
                objectName: "IpLeakCheckRow"
                width: parent.width
                height: Dimensions.y(48)
                canBeClicked: true
                onClicked: viewmodel.iPLeakCheck()

                AMontserratText {
                    anchors.verticalCenter: parent.verticalCenter
                    x: parent.horizontalMargins
                    text: qsTr("IP Leak Check")
                    demiBold: true
                    font.pixelSize: Dimensions.py(14)
                }
                AImage {
                    anchors.verticalCenter: parent.verticalCenter
                    anchors.right: parent.right
                    anchors.rightMargin: parent.horizontalMargins
                    width: Dimensions.x(14)
                    height: width
                    sourceSize.width: width
                    sourceSize.height: height
                    source: Resources.svg("keyboard-right-arrow-button")
                }
            }
            Item { width: 1; height: 1 }
        }

        delegate: GrayRect {
            id: idSection
            readonly property var section: model.helpSectionRaw
            property bool expanded: false
            width: idList.width
            height: idSectionHeader.height + (expanded ? idItems.height + verticalMargins : 0)
            clip: true
            canBeClicked: true
            onClicked: expanded = !expanded
            Behavior on height { NumberAnimation { duration: Style.animationDuration } }

            Item {
                id: idSectionHeader
                width: parent.width
                height: Dimensions.y(48)

                AMontserratText {
                    anchors.verticalCenter: parent.verticalCenter
                    x: idSection.horizontalMargins
                    width: parent.width - 3 * idSection.horizontalMargins
                    text: idSection.section ? idSection.section.name : ""
                    demiBold: true
                    elide: Text.ElideRight
                    font.pixelSize: Dimensions.py(14)
                }
                AImage {
                    anchors.verticalCenter: parent.verticalCenter
                    anchors.right: parent.right
                    anchors.rightMargin: idSection.horizontalMargins
                    width: Dimensions.x(14)
                    height: width
                    sourceSize.width: width
                    sourceSize.height: height
                    source: Resources.svg("keyboard-right-arrow-button")
                    rotation: idSection.expanded ? 90 : 0
                    Behavior on rotation { NumberAnimation { duration: Style.animationDuration } }
                }
            }

            Column {
                id: idItems
                anchors.top: idSectionHeader.bottom
                x: idSection.horizontalMargins
                width: parent.width - 2 * idSection.horizontalMargins
                spacing: Dimensions.y(10)

                CommentText {
                    width: parent.width
                    visible: text !== ""
                    text: idSection.section ? idSection.section.comment : ""
                }

                ARepeater {
                    model: idSection.section ? idSection.section.items : null
                    delegate: AMontserratText {
                        readonly property var helpItem: model.helpItemRaw
                        width: idItems.width
                        wrapMode: Text.WordWrap
                        text: helpItem ? helpItem.name : ""
                        color: Style.text_color_3
                        font.pixelSize: Dimensions.py(13)
                        font.underline: idItemMouse.containsMouse

                        AMouseArea {
                            id: idItemMouse
                            anchors.fill: parent
                            hoverEnabled: true
                            cursorShape: Qt.PointingHandCursor
                            onClicked: {
                                if (helpItem)
                                    viewmodel.linkAktivated(helpItem.url)
                            }
                        }
                    }
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
