import QtQuick 2.11

// A vertical gradient from color1 (top) to color2 (bottom).
ARectangle {
    id: root

    property color color1: "gray"
    property color color2: "white"

    // A transparent rectangle draws nothing, gradient or not.
    color: color2
    gradient: Gradient {
        GradientStop { position: 0.0; color: root.color1 }
        GradientStop { position: 1.0; color: root.color2 }
    }
}
