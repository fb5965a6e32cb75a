pragma Singleton
import QtQuick 2.11

Item {
    id: root

    property string prefix: "qrc:/fonts/roboto/"
    property string fontFamaly: "Roboto"
    property bool debug: false
    // Only the regular face is read at start (the program's texts use it);
    // the others are read once something asks for every face.
    property bool allFaces: false

    property alias regular: idRegular
    property alias black: idBlack
    property alias blackItalic: idBlackItalic
    property alias bold: idBold
    property alias italic: idItalic
    property alias thin: idThin
    property alias medium: idMedium

    FontLoader { id: idRegular; source: root.prefix + "Roboto-Regular.ttf" }
    FontLoader { id: idBlack; source: root.allFaces ? root.prefix + "Roboto-Black.ttf" : "" }
    FontLoader { id: idBlackItalic; source: root.allFaces ? root.prefix + "Roboto-BlackItalic.ttf" : "" }
    FontLoader { id: idBold; source: root.allFaces ? root.prefix + "Roboto-Bold.ttf" : "" }
    FontLoader { id: idItalic; source: root.allFaces ? root.prefix + "Roboto-Italic.ttf" : "" }
    FontLoader { id: idThin; source: root.allFaces ? root.prefix + "Roboto-Thin.ttf" : "" }
    FontLoader { id: idMedium; source: root.allFaces ? root.prefix + "Roboto-Medium.ttf" : "" }

    Component.onCompleted: {
        if (debug)
            console.log("Roboto fonts:", idRegular.name, idRegular.status)
    }
}
