import QtQuick 2.11
import "../../components"
import "../../singletons"

StandartSkinPageCustom {
    id: root
    objectName: "StandartSkinPageAdvanced"
    screenName: qsTr("Advanced")

    readonly property var protocol: viewmodel.selectedProtocolRaw
    readonly property var port: viewmodel.selectedPortRaw
    readonly property var proxy: viewmodel.selectedProxyLocationRaw
    readonly property var dnsFiltering: viewmodel.selectedDNSFilteringRaw
    readonly property bool openVpn: protocol ? protocol.isOpenVpn() : false
    readonly property bool proxyUsable: openVpn && !viewmodel.hideV2Ray
    readonly property var downloader: viewmodel.v2RayDownloader

    function flagOf(code) {
        return code !== "" ? Resources.flag(code) : ""
    }

    Flickable {
        id: idFlickable
        anchors.fill: parent
        anchors.leftMargin: Style.standart_side_offset
        anchors.rightMargin: Style.standart_side_offset
        contentWidth: width
        contentHeight: idColumn.height + Dimensions.y(16)
        boundsBehavior: Flickable.StopAtBounds
        clip: true
        Component.onCompleted: Style.setupMaximumFlickVelocity(idFlickable)

        Column {
            id: idColumn
            width: parent.width
            spacing: Dimensions.y(6)

            Row {
                width: parent.width
                spacing: Dimensions.x(10)

                Column {
                    width: (parent.width - parent.spacing) * 0.6
                    spacing: Dimensions.y(6)
                    AMontserratText {
                        text: qsTr("Protocol")
                        color: Style.text_color_labels
                        font.pixelSize: Dimensions.py(12)
                    }
                    GrayComboBox {
                        objectName: "ProtocolCombo"
                        width: parent.width
                        text: root.protocol ? root.protocol.name : "-"
                        onClicked: viewmodel.goSelectProtocol()
                    }
                }
                Column {
                    width: (parent.width - parent.spacing) * 0.4
                    spacing: Dimensions.y(6)
                    AMontserratText {
                        text: qsTr("Port")
                        color: Style.text_color_labels
                        font.pixelSize: Dimensions.py(12)
                    }
                    GrayComboBox {
                        objectName: "PortCombo"
                        width: parent.width
                        text: root.port ? root.port.name : "-"
                        onClicked: viewmodel.goSelectPort()
                    }
                }
            }

            AMontserratText {
                topPadding: Dimensions.y(6)
                text: "OpenVPN TCP proxy / obfuscation" + (root.openVpn ? "" : " (openvpn only)")
                color: Style.text_color_labels
                font.pixelSize: Dimensions.py(12)
            }
            GrayComboBox {
                objectName: "ProxyCombo"
                width: parent.width
                enabled: root.proxyUsable
                text: root.proxy ? root.proxy.caption : "-"
                firstFlagSource: root.proxy ? root.flagOf(root.proxy.firstCountryCode()) : ""
                onClicked: viewmodel.goSelectProxyLocation()
            }

            AMontserratText {
                topPadding: Dimensions.y(6)
                text: "DNS Filtering"
                color: Style.text_color_labels
                font.pixelSize: Dimensions.py(12)
            }
            GrayComboBox {
                objectName: "DNSFilteringCombo"
                width: parent.width
                canWrapText: true
                text: root.dnsFiltering ? root.dnsFiltering.caption : "-"
                onClicked: viewmodel.goSelectDNSFiltering()
            }

            Column {
                id: idWarning
                objectName: "AdvancedWarning"
                width: parent.width
                topPadding: Dimensions.y(4)
                spacing: Dimensions.y(4)
                visible: idDownloadText.visible || idV2RayText.visible

                CommentText {
                    id: idDownloadText
                    width: parent.width
                    visible: root.downloader !== null
                    color: Style.orange_color
                    text: root.downloader
                          ? qsTr("Downloading the V2Ray client: %1%").arg(Math.floor(root.downloader.receivedPercentage))
                          : ""
                }
                CommentText {
                    id: idV2RayText
                    width: parent.width
                    visible: viewmodel.v2RayProxyEnabled && !viewmodel.v2RayAvailable && root.downloader === null
                    color: Style.orange_color
                    text: qsTr("The V2Ray client is downloaded when you connect through this proxy.")
                }
            }

            Item { width: 1; height: Dimensions.y(4) }
            Rectangle {
                width: parent.width
                height: 1
                color: Style.lineColor
            }

            OptionsRepeater {
                objectName: "AdvancedOptions"
                width: parent.width
                optionModel: viewmodel.optionModelAdvanced
                onLinkActivated: viewmodel.linkAktivated(link)
            }
        }
    }

    ScrollForFlickable {
        anchors.top: idFlickable.top
        anchors.bottom: idFlickable.bottom
        anchors.right: parent.right
        anchors.rightMargin: Dimensions.x(6)
        flickable: idFlickable
        scrollColor: "gray"
    }
}
