pragma Singleton
import QtQuick 2.11
import QtQuick.Window 2.2

// The window is laid out for a reference window of 450 x 690 pixels that
// is 183 mm high on screen; every length in the pages is a reference length
// scaled by sk.
QtObject {
    id: root

    readonly property int etalonWidth_pixels: 450
    readonly property int etalonHeight_pixels: 690
    readonly property real etalonHeight_mm: 183
    // Share of the free desktop the window may take at most.
    readonly property real maxDesktopShare: 0.9

    // How many of this screen's pixels make the reference height.
    readonly property real currentPixelDensityEtalonHeightPixels: etalonHeight_mm * Screen.pixelDensity

    readonly property real displayCoefficient: (typeof viewmodel !== "undefined" && viewmodel) ? viewmodel.kDpi : 1.0

    property real sk: 1.0
    readonly property real skNew: computeSk()

    readonly property int mainWindowDefaultWidth: Math.round(etalonWidth_pixels * sk)
    readonly property int mainWindowDefaultHeight: Math.round(etalonHeight_pixels * sk)
    property int mainWindowWidth: mainWindowDefaultWidth
    property int mainWindowHeight: mainWindowDefaultHeight

    signal newsk(real newValue)
    signal newsknew(real newValue)

    onSkNewChanged: newsknew(skNew)

    function isUsable(value) {
        return isFinite(value) && value > 0
    }

    function computeSk() {
        var ratio = isUsable(Screen.devicePixelRatio) ? Screen.devicePixelRatio : 1.0
        // The physical size first; the model's dots-per-inch ratio when the
        // screen does not tell its size.
        var k = currentPixelDensityEtalonHeightPixels / etalonHeight_pixels / ratio
        if (!isUsable(k) || k < 0.5 || k > 4)
            k = isUsable(displayCoefficient) ? displayCoefficient / ratio : 1.0
        k = Math.max(0.75, Math.min(k, 2.0))

        var availableWidth = Screen.desktopAvailableWidth
        var availableHeight = Screen.desktopAvailableHeight
        if (availableWidth > 0 && availableHeight > 0) {
            var fit = Math.min(availableWidth * maxDesktopShare / etalonWidth_pixels,
                               availableHeight * maxDesktopShare / etalonHeight_pixels)
            k = Math.min(k, fit)
        }
        return k
    }

    function applyNewSk() {
        if (sk === skNew)
            return
        sk = skNew
        newsk(sk)
    }

    function x(value) {
        return Math.round(value * sk)
    }
    function y(value) {
        return Math.round(value * sk)
    }
    function xd(value) {
        return value * sk
    }
    function yd(value) {
        return value * sk
    }
    // Font sizes: never below one pixel.
    function px(value) {
        return Math.max(1, Math.round(value * sk))
    }
    function py(value) {
        return Math.max(1, Math.round(value * sk))
    }
}
