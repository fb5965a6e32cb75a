pragma Singleton
import QtQuick 2.11

// Console diagnostics of the QML side, silent unless switched on.
QtObject {
    property bool drawRects: false
    property bool logOnClicked: false
    property bool debugLog: false

    function log(text) {
        if (debugLog)
            console.log(text)
    }
    function log2(a, b) {
        if (debugLog)
            console.log(a, b)
    }
    function log3(a, b, c) {
        if (debugLog)
            console.log(a, b, c)
    }
    function log4(a, b, c, d) {
        if (debugLog)
            console.log(a, b, c, d)
    }
}
