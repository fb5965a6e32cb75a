import QtQuick 2.11
import "../../singletons"

LightSkinPageSelectCustom {
    objectName: "LightSkinPageSelectLocation"
    screenName: qsTr("Location")
    caption: qsTr("Select location")
    itemModel: viewmodel.validLocations
    delegate: Component {
        Item {
            readonly property var location: row ? row.locationRaw : null
            function getCaptionString() { return location ? (location.name !== "" ? location.name : location.caption) : "" }
            function getExInfoString() { return location && location.pingMs >= 0 ? "%1 ms".arg(location.pingMs) : "" }
            function getId() { return location ? location.code : "" }
            function getFirstFlag() {
                var code = location ? location.firstCountryCode() : ""
                return code !== "" ? Resources.flag(code) : ""
            }
            function isSelected() { return location !== null && location === viewmodel.selectedLocationRaw }
        }
    }
    onSelected: viewmodel.userSelectLocationById(selectedItemId, true)
}
