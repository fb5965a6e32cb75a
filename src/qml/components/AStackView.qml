import QtQuick 2.11
import QtQuick.Controls 2.4
import "../singletons"

// The page stack of a skin: one page at a time, created from its file and
// destroyed when it leaves. Components are kept per file, so a page comes
// back quickly.
StackView {
    id: root

    property bool debug: false
    property var pageComponents: ({})
    property int onRemovedCounter: 0
    // Pages replaced but not yet destroyed (their exit transition runs).
    property var removedPages: []

    function log(text) {
        if (debug || Debug.debugLog)
            console.log(text)
    }

    function findPageComponent(url) {
        var key = url.toString()
        return pageComponents.hasOwnProperty(key) ? pageComponents[key] : null
    }

    function pushPageComponent(url, component) {
        var cache = pageComponents
        cache[url.toString()] = component
        pageComponents = cache
    }

    function createPageComponent(url) {
        var component = Qt.createComponent(url, Component.PreferSynchronous)
        if (!component) {
            console.error("ERROR: Can't create page component!")
            return null
        }
        if (component.status !== Component.Ready) {
            console.error("ERROR: pageComponent.status:", component.status)
            console.error("ERROR: pageComponent.errorString:", component.errorString())
            return null
        }
        pushPageComponent(url, component)
        return component
    }

    // Shows the page of `url`, replacing the current one.
    function pushByUrl(url, params) {
        var component = findPageComponent(url)
        if (!component)
            component = createPageComponent(url)
        if (!component)
            return null
        var page = component.createObject(root, params ? params : {})
        if (!page) {
            console.error("Can't create qml object from component:", url)
            return null
        }
        if (page.debugInjection === true) {
            console.warn("WARNING! QML DEBUG INJECTION! ")
            console.warn("WARNING: DEBUG FOR PAGE - " + url)
        }
        navigateForward(page)
        return page
    }

    function navigateForward(page) {
        var previous = currentItem
        if (depth === 0)
            push(page)
        else
            replace(page)
        if (previous) {
            var pending = removedPages
            pending.push(previous)
            removedPages = pending
        }
        destroyRemovedPages()
        log("page: " + page)
    }

    function destroyPage(page) {
        if (typeof page !== "object" || page === null) {
            log("Type of page is not object. Skip destroy()")
            return
        }
        if (typeof page.destroy !== "function") {
            log("Type of page.destroy is not function. Skip destroy()")
            return
        }
        onRemovedCounter++
        page.destroy()
    }

    function destroyRemovedPages() {
        if (busy)
            return
        var pending = removedPages
        removedPages = []
        for (var i = 0; i < pending.length; ++i)
            destroyPage(pending[i])
    }

    onBusyChanged: destroyRemovedPages()

    pushEnter: fadeIn
    pushExit: fadeOut
    replaceEnter: fadeIn
    replaceExit: fadeOut

    property Transition fadeIn: Transition {
        NumberAnimation { property: "opacity"; from: 0; to: 1; duration: Style.animationDuration }
    }
    property Transition fadeOut: Transition {
        NumberAnimation { property: "opacity"; from: 1; to: 0; duration: Style.animationDuration }
    }
}
