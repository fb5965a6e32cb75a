import QtQuick 2.11
import "../../components"

// Base of the light skin's pages.
SkinPageCustom {
    // The skin that shows the page; set by the skin when it creates it.
    property var skin: null
}
