import QtQuick 2.11
import Ostrel.Domain 1.0
import ".."
import "../../components"
import "../../singletons"

// The standard skin: logo, page stack, footer with the five page buttons,
// version line, and the selectors that slide in over everything.
SkinCustom {
    id: idRoot
    objectName: "standartSkin"
    fileName: "skins/standart/SkinStandart.qml"

    property var pagesFileNames: {
        var names = {}
        names[pageNumConnect()] = "StandartSkinPageConnect"
        names[pageNumPreferences()] = "StandartSkinPagePreferences"
        names[pageNumAdvanced()] = "StandartSkinPageAdvanced"
        names[pageNumNews()] = "StandartSkinPageNews"
        names[pageNumHelp()] = "StandartSkinPageHelp"
        names[pageNumDebug()] = "StandartSkinPageDebug"
        return names
    }
    property int debugPageCounter: 0
    // Logo clicks, each within 400 ms of the last, that open the Debug page.
    readonly property int debugPageClicks: 5
    property alias stackView: idStackView
    property bool withRipple: true

    onCurrentPageNumChanged: {
        if (!pagesFileNames.hasOwnProperty(currentPageNum))
            return
        idStackView.pushByUrl(Resources.qml(pagesFileNames[currentPageNum]), {})
        componentCache.trim()
    }

    function goConnectPage() { selectPage(pageNumConnect()) }
    function goPreferencesPage() { selectPage(pageNumPreferences()) }
    // A selector is made when it is first shown: most starts open none.
    function selectorOf(loader) {
        loader.active = true
        return loader.item
    }
    function goSelectLocation() {
        var selector = selectorOf(idLocationSelectorLoader)
        selector.selectedCategoryIndex = viewmodel.getSelectedRegionIndex()
        selector.showView()
    }
    function goSelectProxyLocation() { selectorOf(idProxyLocationSelectorLoader).showView() }
    function goSelectDNSFiltering() { selectorOf(idDNSFilteringSelectorLoader).showView() }
    function goSelectProtocol() { selectorOf(idProtocolSelectorLoader).showView() }
    function goSelectPort() { selectorOf(idPortSelectorLoader).showView() }

    function connectModel() {
        viewmodel.goConnectPage.connect(goConnectPage)
        viewmodel.goPreferencesPage.connect(goPreferencesPage)
        viewmodel.goSelectLocation.connect(goSelectLocation)
        viewmodel.goSelectProxyLocation.connect(goSelectProxyLocation)
        viewmodel.goSelectDNSFiltering.connect(goSelectDNSFiltering)
        viewmodel.goSelectProtocol.connect(goSelectProtocol)
        viewmodel.goSelectPort.connect(goSelectPort)
    }

    function disconnectModel() {
        viewmodel.goConnectPage.disconnect(goConnectPage)
        viewmodel.goPreferencesPage.disconnect(goPreferencesPage)
        viewmodel.goSelectLocation.disconnect(goSelectLocation)
        viewmodel.goSelectProxyLocation.disconnect(goSelectProxyLocation)
        viewmodel.goSelectDNSFiltering.disconnect(goSelectDNSFiltering)
        viewmodel.goSelectProtocol.disconnect(goSelectProtocol)
        viewmodel.goSelectPort.disconnect(goSelectPort)
    }

    Component.onCompleted: {
        connectModel()
        // A skin the user chose opens where the choice is made.
        selectPage(viewmodel.userChangeSkin ? pageNumPreferences() : pageNumConnect())
    }
    Component.onDestruction: disconnectModel()

    Timer {
        id: debugPageTimer
        interval: 400
        onTriggered: idRoot.debugPageCounter = 0
    }

    Item {
        id: idHeader
        width: parent.width
        height: Style.standart_header_height

        AImage {
            id: idLogo
            objectName: "StandartSkinLogo"
            anchors.centerIn: parent
            height: Dimensions.y(34)
            width: height * 250 / 72
            source: Resources.png("ostrel-logo")

            AMouseArea {
                anchors.fill: parent
                onClicked: {
                    idRoot.debugPageCounter++
                    debugPageTimer.restart()
                    if (idRoot.debugPageCounter >= idRoot.debugPageClicks && viewmodel.isDebugBtnAvailable) {
                        idRoot.debugPageCounter = 0
                        idRoot.selectPage(idRoot.pageNumDebug())
                    }
                }
            }
        }
    }

    AStackView {
        id: idStackView
        objectName: "StandartSkinStackView"
        focus: true
        anchors.top: idHeader.bottom
        anchors.topMargin: Style.standart_stackview_topoffset
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: idVersion.top
        clip: true
    }

    Item {
        id: idVersion
        anchors.bottom: idFooter.top
        width: parent.width
        height: Dimensions.y(24)

        Row {
            anchors.centerIn: parent
            spacing: Dimensions.x(6)

            AText {
                id: idVersionText
                objectName: "VersionText"
                text: "v. " + viewmodel.appVersion + viewmodel.versionPostfix()
                defColor: Style.text_color_labels
                font.pixelSize: Dimensions.py(11)
            }
            TextButton {
                objectName: "UpdateAvailableButton"
                anchors.verticalCenter: idVersionText.verticalCenter
                visible: viewmodel.appNewVersion !== ""
                text: "(update available " + viewmodel.appNewVersion + ")"
                bold: true
                pixelSize: Dimensions.py(11)
                textColor: Style.orange_color
                onClicked: viewmodel.updateAvailableClicked()
            }
        }
    }

    Rectangle {
        id: idFooter
        anchors.bottom: parent.bottom
        width: parent.width
        height: Style.standart_footer_height
        color: Style.selectColor(Style.standart_bg_color_3, Style.standart_bg_color_0_light)

        Rectangle {
            width: parent.width
            height: 1
            color: Style.lineColor
        }

        AGrid {
            id: idFooterGrid
            anchors.fill: parent
            anchors.topMargin: 1
            columns: 5
            spacing: Style.standart_footer_button_spacing

            FooterButton {
                objectName: "FooterConnect"
                width: idFooterGrid.width / 5
                height: idFooterGrid.height
                text: qsTr("CONNECT")
                image: "power"
                isSelected: idRoot.currentPageNum === idRoot.pageNumConnect()
                withRipple: idRoot.withRipple
                onClicked: idRoot.selectPage(idRoot.pageNumConnect())
            }
            FooterButton {
                objectName: "FooterPreferences"
                width: idFooterGrid.width / 5
                height: idFooterGrid.height
                text: qsTr("PREFERENCES")
                image: "user"
                isSelected: idRoot.currentPageNum === idRoot.pageNumPreferences()
                withRipple: idRoot.withRipple
                onClicked: idRoot.selectPage(idRoot.pageNumPreferences())
            }
            FooterButton {
                objectName: "FooterAdvanced"
                width: idFooterGrid.width / 5
                height: idFooterGrid.height
                text: qsTr("ADVANCED")
                image: "gear"
                isSelected: idRoot.currentPageNum === idRoot.pageNumAdvanced()
                withRipple: idRoot.withRipple
                onClicked: idRoot.selectPage(idRoot.pageNumAdvanced())
            }
            FooterButton {
                objectName: "FooterNews"
                width: idFooterGrid.width / 5
                height: idFooterGrid.height
                text: qsTr("NEWS")
                image: "news"
                attentionCounter: viewmodel.newsAttentionCounter
                isSelected: idRoot.currentPageNum === idRoot.pageNumNews()
                withRipple: idRoot.withRipple
                onClicked: idRoot.selectPage(idRoot.pageNumNews())
            }
            FooterButton {
                objectName: "FooterHelp"
                width: idFooterGrid.width / 5
                height: idFooterGrid.height
                text: qsTr("HELP")
                image: "question"
                isSelected: idRoot.currentPageNum === idRoot.pageNumHelp()
                withRipple: idRoot.withRipple
                onClicked: idRoot.selectPage(idRoot.pageNumHelp())
            }
        }
    }

    Loader {
        id: idLocationSelectorLoader
        anchors.fill: parent
        z: 1
        active: false
        sourceComponent: Component {
            ItemsSelector2 {
                id: idLocationSelector
                objectName: "LocationSelector"
                caption: qsTr("Select location by category")
                categoryModel: viewmodel.regions
                itemModel: viewmodel.validLocations
                favoriteModel: viewmodel.favoriteModel
                delegate: Component {
                    Item {
                        readonly property var location: row ? row.locationRaw : null
                        // Server lists fill city and country; a name is set only by hand.
                        function getCaptionString() {
                            if (!location)
                                return ""
                            return location.name !== "" ? location.name : (location.city !== "" ? location.city : location.caption)
                        }
                        function getSubCaptionString() {
                            return location && location.country !== getCaptionString() ? location.country : ""
                        }
                        function getExInfoString() {
                            return location && location.pingMs >= 0 ? "%1 ms".arg(location.pingMs) : ""
                        }
                        function getId() { return location ? location.code : "" }
                        function getFirstFlag() {
                            var code = location ? location.firstCountryCode() : ""
                            return code !== "" ? Resources.flag(code) : ""
                        }
                        function getSecondFlag() {
                            var code = location ? location.secondCountryCode() : ""
                            return code !== "" ? Resources.flag(code) : ""
                        }
                        function isSelected() { return location !== null && location === viewmodel.selectedLocationRaw }
                        function getFavorite() { return location ? location.favorite : false }
                        function favoriteClicked() {
                            if (location)
                                viewmodel.invertLocationFavorite(location.code)
                        }
                    }
                }
                categoryDelegate: Component {
                    Item {
                        readonly property var region: row ? row.regionRaw : null
                        function getCaptionString() { return region ? region.caption : "" }
                        function getId() { return region ? region.id : "" }
                        function getCount() { return viewmodel.regions.getCount() }
                    }
                }
                onSelected: viewmodel.userSelectLocationById(selectedItemId, true)
                onCategorySelected: viewmodel.selectRegionById(selectedSelectedId)
                onRefresh: viewmodel.refreshLocations()

                // The model picks the region again after every list update
                // (it follows the chosen location), and a merge can move the
                // regions: the tab always marks the region the rows are of.
                function followModelRegion() {
                    selectedCategoryIndex = viewmodel.getSelectedRegionIndex()
                }
                Connections {
                    target: viewmodel
                    function onSelectedRegionChanged() { idLocationSelector.followModelRegion() }
                }
                Connections {
                    target: viewmodel.regions
                    function onModelReset() { idLocationSelector.followModelRegion() }
                    function onRowsInserted() { idLocationSelector.followModelRegion() }
                    function onRowsRemoved() { idLocationSelector.followModelRegion() }
                }
            }
        }
    }

    Loader {
        id: idProxyLocationSelectorLoader
        anchors.fill: parent
        z: 1
        active: false
        sourceComponent: Component {
            ItemsSelector {
                id: idProxyLocationSelector
                objectName: "ProxyLocationSelector"
                caption: qsTr("Select proxy")
                itemModel: viewmodel.proxyLocations
                delegate: Component {
                    Item {
                        readonly property var proxy: row ? row.item : null
                        function getCaptionString() { return proxy ? proxy.caption : "" }
                        function getId() { return proxy ? proxy.id : "" }
                        function getFirstFlag() {
                            var code = proxy ? proxy.firstCountryCode() : ""
                            return code !== "" ? Resources.flag(code) : ""
                        }
                        function isSelected() { return proxy !== null && proxy === viewmodel.selectedProxyLocationRaw }
                    }
                }
                onSelected: viewmodel.userSelectProxyLocationById(selectedItemId, true)
            }
        }
    }

    Loader {
        id: idDNSFilteringSelectorLoader
        anchors.fill: parent
        z: 1
        active: false
        sourceComponent: Component {
            ItemsSelector {
                id: idDNSFilteringSelector
                objectName: "DNSFilteringSelector"
                caption: qsTr("Select DNS Filtering")
                itemModel: viewmodel.dnsFilterings
                itemTextWrap: true
                delegate: Component {
                    Item {
                        readonly property var filtering: row ? row.item : null
                        function getCaptionString() { return filtering ? filtering.caption : "" }
                        function getId() { return filtering ? filtering.id : "" }
                        function isSelected() {
                            return filtering !== null && filtering === viewmodel.selectedDNSFilteringRaw
                        }
                    }
                }
                onSelected: viewmodel.userSelectDNSFilteringById(selectedItemId, true)
            }
        }
    }

    Loader {
        id: idProtocolSelectorLoader
        anchors.fill: parent
        z: 1
        active: false
        sourceComponent: Component {
            ItemsSelector {
                id: idProtocolSelector
                objectName: "ProtocolSelector"
                caption: qsTr("Select protocol")
                itemModel: viewmodel.protocols
                delegate: Component {
                    Item {
                        readonly property var protocol: row ? row.protocolRaw : null
                        function getCaptionString() { return protocol ? protocol.name : "" }
                        function getId() { return protocol ? protocol.id : -1 }
                        function isSelected() { return protocol !== null && protocol === viewmodel.selectedProtocolRaw }
                    }
                }
                onSelected: viewmodel.userSelectProtocolById(selectedItemId)
            }
        }
    }

    Loader {
        id: idPortSelectorLoader
        anchors.fill: parent
        z: 1
        active: false
        sourceComponent: Component {
            ItemsSelector {
                id: idPortSelector
                objectName: "PortSelector"
                caption: qsTr("Select port")
                itemModel: viewmodel.selectedProtocolRaw ? viewmodel.selectedProtocolRaw.ports : null
                delegate: Component {
                    Item {
                        readonly property var port: row ? row.portRaw : null
                        function getAvailable() {
                            if (!port)
                                return false
                            switch (port.protocol) {
                            case Constants.Protocol_AUTO:
                            case Constants.Protocol_TCP:
                                return true
                            case Constants.Protocol_UDP:
                                // UDP cannot go through the V2Ray proxy.
                                return !viewmodel.v2RayProxyEnabled
                            }
                            return false
                        }
                        function getCaptionString() { return port ? port.name : "" }
                        function getId() { return port ? port.id : "" }
                        function isSelected() { return port !== null && port === viewmodel.selectedPortRaw }
                    }
                }
                onSelected: viewmodel.selectPortById(selectedItemId)
            }
        }
    }
}
