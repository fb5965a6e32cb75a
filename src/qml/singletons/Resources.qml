pragma Singleton
import QtQuick 2.11
import Ostrel.Domain 1.0

// Addresses of the skin's images and pages, by the current skin type.
QtObject {
    property string fontFamilyCommon: "Helvetica Neue"

    readonly property int skinType: (typeof viewmodel !== "undefined" && viewmodel)
                                    ? viewmodel.skinType : Constants.SkinType_standart

    function imagesBase() {
        switch (skinType) {
        case Constants.SkinType_light:
            return "qrc:///light_skin/"
        case Constants.SkinType_standart:
            return "qrc:///standart_skin/"
        case Constants.SkinType_standart_light:
            return "qrc:///standart_skin/light/"
        }
        return ""
    }

    function pagesBase() {
        switch (skinType) {
        case Constants.SkinType_light:
            return "qrc:///qml/skins/light/"
        case Constants.SkinType_standart:
        case Constants.SkinType_standart_light:
            return "qrc:///qml/skins/standart/"
        }
        return ""
    }

    function build(base, name, suffix) {
        return base === "" ? "???" : base + name + suffix
    }

    function svg(imageName) {
        return build(imagesBase(), imageName, ".svg")
    }
    function png(imageName) {
        return build(imagesBase(), imageName, ".png")
    }
    function gif(gifName) {
        return build(imagesBase(), gifName, ".gif")
    }
    function qml(fileName) {
        return build(pagesBase(), fileName, ".qml")
    }
    function flag(countryCode) {
        return "qrc:///Images/flags/" + countryCode + ".png"
    }
}
