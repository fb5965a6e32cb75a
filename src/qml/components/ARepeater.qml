import QtQuick 2.11

Repeater {
}
