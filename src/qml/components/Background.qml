import QtQuick 2.11

// A vertical gradient from color1 (top) to color2 (bottom).
ARectangle {
    property color color1: "gray"
    property color color2: "white"

    gradient: Gradient {
        GradientStop { position: 0.0; color: color1 }
        GradientStop { position: 1.0; color: color2 }
    }
}
