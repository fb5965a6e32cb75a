import QtQuick 2.11
import "../singletons"

Text {
    property color defColor: Style.text_color_1

    color: defColor
    font.family: FontRobotoLoader.regular.name
    font.pixelSize: Dimensions.py(14)
}
