import QtQuick 2.11
import ".."
import "../../components"
import "../../singletons"

// The light skin: a header with the logo and the page tabs, the page
// stack, and the footer texts.
SkinCustom {
    id: idRoot
    objectName: "lightSkin"
    fileName: "skins/light/SkinLight.qml"

    function pageNumSelectLocation() { return 7 }
    function pageNumSelectProtocol() { return 8 }
    function pageNumSelectPort() { return 9 }

    property var pagesFileNames: {
        var names = {}
        names[pageNumConnect()] = "LightSkinPageConnect"
        names[pageNumAccount()] = "LightSkinPageAccount"
        names[pageNumPreferences()] = "LightSkinPagePreferences"
        names[pageNumAdvanced()] = "LightSkinPageAdvanced"
        names[pageNumNews()] = "LightSkinPageNews"
        names[pageNumHelp()] = "LightSkinPageHelp"
        names[pageNumSelectLocation()] = "LightSkinPageSelectLocation"
        names[pageNumSelectProtocol()] = "LightSkinPageSelectProtocol"
        names[pageNumSelectPort()] = "LightSkinPageSelectPort"
        return names
    }
    property alias stackView: idStackView

    onCurrentPageNumChanged: {
        if (!pagesFileNames.hasOwnProperty(currentPageNum))
            return
        idStackView.pushByUrl(Resources.qml(pagesFileNames[currentPageNum]), { skin: idRoot })
        componentCache.trim()
    }

    function goConnectPage() { selectPage(pageNumConnect()) }
    function goPreferencesPage() { selectPage(pageNumAccount()) }
    function goSelectLocation() { selectPage(pageNumSelectLocation()) }
    function goSelectProtocol() { selectPage(pageNumSelectProtocol()) }
    function goSelectPort() { selectPage(pageNumSelectPort()) }

    Component.onCompleted: {
        viewmodel.goConnectPage.connect(goConnectPage)
        viewmodel.goPreferencesPage.connect(goPreferencesPage)
        viewmodel.goSelectLocation.connect(goSelectLocation)
        viewmodel.goSelectProtocol.connect(goSelectProtocol)
        viewmodel.goSelectPort.connect(goSelectPort)
        // A skin the user chose opens where the choice is made.
        selectPage(viewmodel.userChangeSkin ? pageNumPreferences() : pageNumConnect())
    }
    Component.onDestruction: {
        viewmodel.goConnectPage.disconnect(goConnectPage)
        viewmodel.goPreferencesPage.disconnect(goPreferencesPage)
        viewmodel.goSelectLocation.disconnect(goSelectLocation)
        viewmodel.goSelectProtocol.disconnect(goSelectProtocol)
        viewmodel.goSelectPort.disconnect(goSelectPort)
    }

    bkg.color1: Style.light_bg_color_2
    bkg.color2: Style.light_bg_color_0

    Column {
        id: idHeader
        width: parent.width

        Item {
            width: parent.width
            height: Dimensions.y(56)
            AImage {
                anchors.centerIn: parent
                height: Dimensions.y(36)
                width: height * 300 / 86
                source: Resources.png("header_logo")
            }
        }

        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: Dimensions.x(2)
            Repeater {
                model: [
                    { text: qsTr("CONNECT"), page: idRoot.pageNumConnect() },
                    { text: qsTr("ACCOUNT"), page: idRoot.pageNumAccount() },
                    { text: qsTr("PREFERENCES"), page: idRoot.pageNumPreferences() },
                    { text: qsTr("ADVANCED"), page: idRoot.pageNumAdvanced() },
                    { text: qsTr("NEWS"), page: idRoot.pageNumNews() },
                    { text: qsTr("HELP"), page: idRoot.pageNumHelp() }
                ]
                delegate: PageButton {
                    text: modelData.text
                    isSelected: idRoot.currentPageNum === modelData.page
                    onClicked: idRoot.selectPage(modelData.page)
                }
            }
        }

        Rectangle {
            width: parent.width
            height: 1
            color: Style.standart_lines_color_light
        }
    }

    AStackView {
        id: idStackView
        objectName: "LightSkinStackView"
        anchors.top: idHeader.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: idFooter.top
        clip: true
    }

    Column {
        id: idFooter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: Dimensions.y(8)
        width: parent.width
        spacing: Dimensions.y(2)

        AText {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "OSTREL Client Software"
            defColor: Style.light_text_color_1
            font.pixelSize: Dimensions.py(11)
        }
        AText {
            anchors.horizontalCenter: parent.horizontalCenter
            objectName: "LightSkinVersion"
            text: "Version: 3.7"
            defColor: Style.light_line_color
            font.pixelSize: Dimensions.py(10)
        }
        AText {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Legal ( TOS / AUP / PP )"
            defColor: Style.light_text_color_2
            font.pixelSize: Dimensions.py(10)
            AMouseArea {
                anchors.fill: parent
                cursorShape: Qt.PointingHandCursor
                onClicked: viewmodel.onLegal("")
            }
        }
    }
}
