import QtQuick 2.11
import "../singletons"

// Text in the Montserrat family; the switches pick the weight.
Text {
    property bool bold: false
    property bool demiBold: false
    property bool thin: false
    property bool light: false

    color: Style.text_color_1
    font.pixelSize: Dimensions.py(14)
    font.family: bold ? FontMontserratBold.name
               : demiBold ? FontMontserratDemiBold.name
               : thin ? FontMontserratThin.name
               : light ? FontMontserratLight.name
               : FontMontserratRegular.name
    font.weight: bold ? Font.Bold
               : demiBold ? Font.DemiBold
               : thin ? Font.Thin
               : light ? Font.Light
               : Font.Normal
}
