import QtQuick 2.11

// Runs snippets of script later, one per timer tick and in the order given:
// a list delegate can ask for work that rebuilds its own list.
Timer {
    id: root

    property var deque: []
    property int executeCount: 0
    property bool executing: false
    property bool debug: true
    property var item: null

    interval: 1
    repeat: false

    function executePromise(code) {
        deque.push(code)
        if (running || executing) {
            if (debug)
                console.debug("PromiseTimer is running now... append promise to deque")
            return
        }
        restart()
    }

    function executePromiseInterval(code, ms) {
        interval = ms
        executePromise(code)
    }

    function resetAndExecutePromise(code) {
        deque = []
        stop()
        executePromise(code)
    }

    function runOne(code) {
        var obj = Qt.createQmlObject("import QtQuick 2.9; Item { function onTriggered() { " + code + " }}",
                                     root, "PromiseTimer")
        try {
            obj.onTriggered()
        } finally {
            obj.destroy()
        }
    }

    onTriggered: {
        if (deque.length === 0)
            return
        var code = deque.shift()
        executing = true
        try {
            runOne(code)
            executeCount++
        } finally {
            executing = false
            interval = 1
            if (deque.length > 0)
                restart()
        }
    }
}
