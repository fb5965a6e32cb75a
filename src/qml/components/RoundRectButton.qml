import QtQuick 2.11
import "../singletons"

TextButton {
    textColor: "white"
    color: enabled ? Style.style_color_3 : Style.disableColor(Style.style_color_3)
    radius: height / 2
    additionalWidth: Dimensions.x(32)
    additionalHeight: Dimensions.y(14)
}
