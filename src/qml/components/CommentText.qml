import QtQuick 2.11
import "../singletons"

// The smaller explanation under an option.
AMontserratText {
    lineHeight: 0.8
    wrapMode: Text.WordWrap
    color: Style.comment_text_color
    font.pixelSize: Dimensions.py(12)
}
