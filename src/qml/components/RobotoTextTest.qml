import QtQuick 2.11
import "../singletons"

// One line of sample text in each Roboto face the program carries, for
// checking that the fonts load and how they render.
Column {
    id: root

    property string sampleText: "The quick brown fox jumps over the lazy dog 0123456789"
    property int pixelSize: Dimensions.py(14)
    property color textColor: Style.text_color_1

    spacing: Dimensions.y(4)

    Component.onCompleted: FontRobotoLoader.allFaces = true

    Repeater {
        model: [
            { face: "regular", loader: FontRobotoLoader.regular },
            { face: "medium", loader: FontRobotoLoader.medium },
            { face: "bold", loader: FontRobotoLoader.bold },
            { face: "black", loader: FontRobotoLoader.black },
            { face: "italic", loader: FontRobotoLoader.italic },
            { face: "blackItalic", loader: FontRobotoLoader.blackItalic },
            { face: "thin", loader: FontRobotoLoader.thin }
        ]
        delegate: Text {
            objectName: "RobotoSample_" + modelData.face
            width: root.width
            elide: Text.ElideRight
            color: root.textColor
            font.family: modelData.loader.name
            font.pixelSize: root.pixelSize
            text: modelData.face + ": " + root.sampleText
        }
    }
}
