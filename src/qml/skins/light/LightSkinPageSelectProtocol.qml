import QtQuick 2.11

LightSkinPageSelectCustom {
    objectName: "LightSkinPageSelectProtocol"
    screenName: qsTr("Protocol")
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
