import QtQuick 2.11

ListView {
    clip: true
    boundsBehavior: Flickable.StopAtBounds
}
