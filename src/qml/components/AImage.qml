import QtQuick 2.11

Image {
    fillMode: Image.PreserveAspectFit
    smooth: true
    mipmap: true
}
