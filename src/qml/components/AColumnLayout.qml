import QtQuick 2.11
import QtQuick.Layouts 1.1

ColumnLayout {
    spacing: 0
}
