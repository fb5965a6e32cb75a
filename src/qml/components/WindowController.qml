import QtQuick 2.11
import QtQuick.Window 2.2

// Creates a window from a QML file on first show() and forgets it when it
// closes, so the next show() builds a fresh one.
Item {
    id: root

    property var windowComponent: null
    property var window: null
    property string componentQmlName: ""
    // Directory of the file; empty means beside this component.
    property string componentPath: ""
    property bool autoPosCorrection: true
    property int windowX: 0
    property int windowY: 0
    property bool waitingForComponent: false

    signal windowShowed()

    function componentUrl() {
        return componentPath === "" ? componentQmlName : componentPath + componentQmlName
    }

    function show() {
        if (window) {
            window.show()
            window.raise()
            window.requestActivate()
            windowShowed()
            return
        }
        if (!windowComponent)
            windowComponent = Qt.createComponent(componentUrl())
        if (windowComponent.status === Component.Loading) {
            if (!waitingForComponent) {
                waitingForComponent = true
                windowComponent.statusChanged.connect(finishCreation)
            }
        } else {
            finishCreation()
        }
    }

    function finishCreation() {
        if (windowComponent.status === Component.Loading)
            return
        if (waitingForComponent) {
            waitingForComponent = false
            windowComponent.statusChanged.disconnect(finishCreation)
        }
        if (windowComponent.status !== Component.Ready) {
            console.error("Error loading component:", windowComponent.errorString())
            windowComponent = null
            return
        }
        window = windowComponent.createObject(root)
        if (!window) {
            console.error("Error creating object window")
            return
        }
        window.closing.connect(onWindowClosing)
        placeWindow()
        window.show()
        window.raise()
        window.requestActivate()
        windowShowed()
    }

    function placeWindow() {
        var x = windowX
        var y = windowY
        if (x === 0 && y === 0 && root.Window.window) {
            var owner = root.Window.window
            x = owner.x + (owner.width - window.width) / 2
            y = owner.y + (owner.height - window.height) / 2
        }
        if (autoPosCorrection) {
            var maxX = Screen.desktopAvailableWidth - window.width
            var maxY = Screen.desktopAvailableHeight - window.height
            x = Math.max(0, Math.min(x, maxX))
            y = Math.max(0, Math.min(y, maxY))
        }
        window.x = x
        window.y = y
    }

    function onWindowClosing() {
        if (!window)
            return
        var closed = window
        window = null
        closed.destroy()
    }
}
