import QtQuick 2.11

// Transparent filler of a layout.
ARectangle {
}
