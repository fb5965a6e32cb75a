import QtQuick 2.11
import QtQuick.Window 2.2
import QtQuick.Controls 2.4
import Ostrel.Domain 1.0
import "components"
import "singletons"
import "skins"

// The application window: loads the skin of the model's skin type and
// hosts the toast and the log window.
ApplicationWindow {
    id: idWindow
    objectName: "mainWindow"
    title: qsTr("OSTREL")

    property int updateWindowSizeCounter: 0
    property string lightSkinFileName: "skins/light/SkinLight.qml"
    property string standartSkinFileName: "skins/standart/SkinStandart.qml"
    property string standartLightSkinFileName: "skins/standart/SkinStandart.qml"
    property int currentSkinType: viewmodel.skinType
    property SkinCustom idSkin: null
    property bool isCompleted: false
    property Component showLogComponent: null
    property var showLogWindow: null
    property bool needUpdateWindowSize: false
    readonly property var messageBox: idMessageBox.item

    flags: Qt.Window | Qt.CustomizeWindowHint | Qt.WindowTitleHint
           | Qt.WindowMinimizeButtonHint | Qt.WindowCloseButtonHint
    width: Dimensions.mainWindowWidth
    height: Dimensions.mainWindowHeight
    minimumWidth: Dimensions.mainWindowWidth
    maximumWidth: Dimensions.mainWindowWidth
    minimumHeight: Dimensions.mainWindowHeight
    maximumHeight: Dimensions.mainWindowHeight
    color: Style.backgroundColor2

    function skinFileName(skinType) {
        switch (skinType) {
        case Constants.SkinType_light:
            return lightSkinFileName
        case Constants.SkinType_standart:
            return standartSkinFileName
        case Constants.SkinType_standart_light:
            return standartLightSkinFileName
        }
        return standartSkinFileName
    }

    function loadCurrentSkin() {
        Resources.loadedSkinType = currentSkinType
        idSkinLoader.source = skinFileName(currentSkinType)
    }

    function connectCurrentSkin() {
        idSkin.skinChange.connect(onSkinChange)
        idSkin.windowMinimizeClicked.connect(onWindowMinimizeClicked)
        idSkin.windowCloseClicked.connect(onWindowCloseClicked)
    }

    function disconnectCurrentSkin() {
        if (!idSkin)
            return
        idSkin.skinChange.disconnect(onSkinChange)
        idSkin.windowMinimizeClicked.disconnect(onWindowMinimizeClicked)
        idSkin.windowCloseClicked.disconnect(onWindowCloseClicked)
        idSkin = null
    }

    function onSkinChange() {
        viewmodel.dlog("skin change requested by the skin")
    }

    function onWindowMinimizeClicked() {
        viewmodel.minimizeClicked()
    }

    function onWindowCloseClicked() {
        close()
    }

    // The old skin goes first; the new one is created on the next tick.
    function reloadSkin() {
        disconnectCurrentSkin()
        idSkinLoader.source = ""
        idLoadCurrentSkinTimer.restart()
    }

    function onSkinTypeChanged() {
        reloadSkin()
    }

    function onShowToast(msg, details) {
        idMessageBox.active = true
        idMessageBox.item.showMessageBox(msg, details)
    }

    function onShowLog() {
        idLogWindow.show()
    }

    function onShowHelp() {
        var component = Qt.createComponent("help.qml")
        if (component.status !== Component.Ready) {
            console.error("Error loading component:", component.errorString())
            return
        }
        var helpWindow = component.createObject(idWindow)
        if (!helpWindow) {
            console.error("Error creating object window")
            return
        }
        helpWindow.closing.connect(function() { helpWindow.destroy() })
        helpWindow.show()
    }

    function resume() {
        viewmodel.dlog("resume")
        if (idSkin && typeof idSkin.selectPage === "function")
            idSkin.selectPage(idSkin.pageNumConnect())
    }

    function qmlBeforAppClose() {
        disconnectCurrentSkin()
    }

    function onDisplayCoefficientChanged(displayCoefficient) {
        viewmodel.dlog("display coefficient: " + displayCoefficient)
        scheduleWindowSizeUpdate()
    }

    function scheduleWindowSizeUpdate() {
        needUpdateWindowSize = true
        idUpdateWindowSizeTimer.restart()
    }

    function updateWindowSize() {
        if (!needUpdateWindowSize)
            return
        needUpdateWindowSize = false
        Dimensions.applyNewSk()
        Dimensions.mainWindowWidth = Dimensions.mainWindowDefaultWidth
        Dimensions.mainWindowHeight = Dimensions.mainWindowDefaultHeight
        updateWindowSizeCounter++
    }

    function connectModel() {
        viewmodel.skinTypeChanged.connect(onSkinTypeChanged)
        viewmodel.qmlShowToast.connect(onShowToast)
        viewmodel.qmlShowLog.connect(onShowLog)
        viewmodel.showHelp.connect(onShowHelp)
        viewmodel.resume.connect(resume)
        viewmodel.beforeAppClose.connect(qmlBeforAppClose)
        viewmodel.displayCoefficientChanged.connect(onDisplayCoefficientChanged)
    }

    function disconnectModel() {
        viewmodel.skinTypeChanged.disconnect(onSkinTypeChanged)
        viewmodel.qmlShowToast.disconnect(onShowToast)
        viewmodel.qmlShowLog.disconnect(onShowLog)
        viewmodel.showHelp.disconnect(onShowHelp)
        viewmodel.resume.disconnect(resume)
        viewmodel.beforeAppClose.disconnect(qmlBeforAppClose)
        viewmodel.displayCoefficientChanged.disconnect(onDisplayCoefficientChanged)
    }

    function logEnvironment() {
        viewmodel.dlog("locale: " + Qt.locale().name)
        viewmodel.dlog("screen: " + Screen.name + " " + Screen.manufacturer + " " + Screen.model
                       + " " + Screen.serialNumber + " " + Screen.width + "x" + Screen.height
                       + " pixelDensity: " + Screen.pixelDensity + " devicePixelRatio: " + Screen.devicePixelRatio)
    }

    Component.onCompleted: {
        logEnvironment()
        Dimensions.applyNewSk()
        connectModel()
        idLoadCurrentSkinTimer.start()
        // Shown at once with the logo; the skin covers it when it is loaded.
        if (!viewmodel.optionStartMinimized.value)
            viewmodel.activateMainWindow()
    }

    Component.onDestruction: {
        disconnectCurrentSkin()
        disconnectModel()
    }

    onWidthChanged: {
        if (isCompleted)
            scheduleWindowSizeUpdate()
    }
    onHeightChanged: {
        if (isCompleted)
            scheduleWindowSizeUpdate()
    }

    onClosing: close.accepted = viewmodel.onMainWindowClosing()

    onVisibilityChanged: {
        if (visibility === Window.Minimized)
            viewmodel.onMainWindowMinimized()
    }

    Background {
        anchors.fill: parent
        color1: Style.backgroundColor1
        color2: Style.backgroundColor2
    }

    Timer {
        id: idUpdateWindowSizeTimer
        interval: 300
        running: false
        onTriggered: idWindow.updateWindowSize()
    }

    WindowController {
        id: idLogWindow
        componentQmlName: "logwin.qml"
    }

    Timer {
        id: idLoadCurrentSkinTimer
        interval: 1
        onTriggered: idWindow.loadCurrentSkin()
    }

    AImage {
        id: idLogoImage
        anchors.centerIn: parent
        width: Dimensions.x(200)
        height: width * 72 / 250
        source: Resources.png("ostrel-logo")
    }

    AMouseArea {
        id: idDragArea
        anchors.fill: parent
        property point lastMousePos: Qt.point(0, 0)
        onPressed: lastMousePos = Qt.point(mouse.x, mouse.y)
        onPositionChanged: {
            idWindow.x += mouse.x - lastMousePos.x
            idWindow.y += mouse.y - lastMousePos.y
        }
    }

    Loader {
        id: idSkinLoader
        objectName: "SkinLoader"
        anchors.fill: parent
        onStatusChanged: {
            if (status === Loader.Error) {
                console.error("skin not loaded:", source)
                return
            }
            if (status !== Loader.Ready || !item)
                return
            idWindow.idSkin = item
            idWindow.connectCurrentSkin()
            // The user's change of skin is carried out.
            viewmodel.userChangeSkin = false
            componentCache.trim()
            if (!idWindow.isCompleted) {
                idWindow.isCompleted = true
                viewmodel.sceneCompleted()
            }
        }
    }

    // The toast is made the first time one is shown: its fonts are then
    // read after the window has come up, not before.
    Loader {
        id: idMessageBox
        anchors.fill: parent
        z: 100
        active: false
        sourceComponent: Component {
            MessageBox {
                objectName: "MessageBox"
            }
        }
    }
}
