import QtQuick 2.11
import Ostrel.Domain 1.0

LightSkinPageSelectCustom {
    objectName: "LightSkinPageSelectPort"
    screenName: qsTr("Port")
    caption: qsTr("Select port")
    itemModel: viewmodel.selectedProtocolRaw ? viewmodel.selectedProtocolRaw.ports : null
    delegate: Component {
        Item {
            readonly property var port: row ? row.portRaw : null
            function getAvailable() {
                return port !== null && (port.protocol !== Constants.Protocol_UDP || !viewmodel.v2RayProxyEnabled)
            }
            function getCaptionString() { return port ? port.name : "" }
            function getId() { return port ? port.id : "" }
            function isSelected() { return port !== null && port === viewmodel.selectedPortRaw }
        }
    }
    onSelected: viewmodel.selectPortById(selectedItemId)
}
