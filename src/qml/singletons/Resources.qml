pragma Singleton
import QtQuick 2.11
import Ostrel.Domain 1.0

// Addresses of the skin's images and pages, by the current skin type.
QtObject {
    property string fontFamilyCommon: "Helvetica Neue"

    // The skin the window has loaded, -1 while no window manages skins.
    // The window moves it on only after the old skin is gone: the old skin's
    // images must not be looked up under the new skin's directory.
    property int loadedSkinType: -1
    readonly property int modelSkinType: (typeof viewmodel !== "undefined" && viewmodel)
                                         ? viewmodel.skinType : Constants.SkinType_standart
    readonly property int skinType: loadedSkinType >= 0 ? loadedSkinType : modelSkinType

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
