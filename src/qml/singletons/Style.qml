pragma Singleton
import QtQuick 2.11
import Ostrel.Domain 1.0
import "."

// Colours and metrics of the standard skin. The palette-dependent colours
// pick their dark or light value by the current skin type.
QtObject {
    id: root

    readonly property int skinType: (typeof viewmodel !== "undefined" && viewmodel)
                                    ? viewmodel.skinType : Constants.SkinType_standart
    readonly property bool lightSkinType: skinType === Constants.SkinType_standart_light

    property int smallRadius: 0
    property int regularRadius: 0
    property int offset1: Dimensions.x(10)
    property int animationTime: 350
    property int animationDuration: 150
    property real disabledColorFactor: 1.7

    // Fixed colours.
    readonly property color orange_color: "#EA941B"
    readonly property color style_color_3: "#1869DC"
    readonly property color light_bg_color_0: "#D8DFE5"
    readonly property color light_bg_color_1: "#34404B"
    readonly property color light_bg_color_2: "white"
    readonly property color light_text_color_1: "#34404B"
    readonly property color light_text_color_2: "#239BB9"
    readonly property color light_line_color: "#96A9BA"
    readonly property color light_line_color2: "#269DE2"
    readonly property color light_line_color3: "#239BB9"
    readonly property color standart_bg_color_0: "#040E1F"
    readonly property color standart_bg_color_1: "#092741"
    readonly property color standart_bg_color_2: "#040E1F"
    readonly property color standart_bg_color_3: "#020811"
    readonly property color standart_bg_color_0_light: "#FFFFFF"
    readonly property color standart_text_color_1: "white"
    readonly property color standart_text_color_2: "#FFFFFF"
    readonly property color standart_text_color_3: "#269DE2"
    readonly property color standart_text_color_4: "white"
    readonly property color standart_x_color_1: "#269DE2"
    readonly property color standart_lines_color: "#767781"
    readonly property color standart_lines_color_light: "#E2E5EB"
    readonly property color standart_ripple_color: "#eeffffff"
    readonly property color gray_ripple_color: "#ee888888"
    readonly property color standart_combobox_background: "black"
    readonly property int standart_footer_button_spacing: 0

    // Palette-dependent colours: selectColor(dark, light).
    readonly property color backgroundColor1: selectColor(standart_bg_color_1, standart_bg_color_0_light)
    readonly property color backgroundColor1_5: selectColor("#143755", "#F1F4F7")
    readonly property color backgroundColor2: selectColor(standart_bg_color_0, "#F1F4F7")
    readonly property color lineColor: selectColor("#143755", standart_lines_color_light)
    readonly property color text_color_labels: selectColor("#9EAFBE", "#93A0AC")
    readonly property color text_color_1: selectColor(standart_text_color_1, light_text_color_1)
    readonly property color text_color_2: selectColor(standart_text_color_2, light_text_color_1)
    readonly property color text_color_3: selectColor(standart_text_color_3, "#259ADE")
    readonly property color comment_text_color: selectColor("#9EAFBE", "#93A0AC")
    readonly property color selector_background: selectColor(standart_bg_color_2, standart_bg_color_0_light)
    readonly property color selector_back_background: selectColor("#0c101A", "#F1F4F7")
    readonly property color selector_text_color: selectColor(standart_text_color_1, light_text_color_1)
    readonly property color selector_text_color_selected: selectColor(standart_text_color_3, "#259ADE")
    readonly property color selector_scrollBgColor: selectColor("#0DFFFFFF", "#F1F4F7")
    readonly property color selector_scrollColor: selectColor("#55269DE2", "#BEC7D0")
    readonly property color selector_scrollColorFocused: selectColor(standart_x_color_1, "#93A0AC")
    readonly property color selector_categoryLineColor: selectColor("#143755", standart_lines_color_light)
    readonly property color checkbox_border_color: selectColor("#93A0AC", "#BEC7D0")
    readonly property color bright_color: selectColor(standart_x_color_1, "#259ADE")
    readonly property color checkbox_main_color: selectColor(standart_x_color_1, "#259ADE")
    readonly property color input_text_color: selectColor(standart_text_color_1, light_text_color_1)
    readonly property color input_text_placeholder_color: selectColor("#93A0AC", "#9EAFBE")
    readonly property color footer_selected_button_bg: selectColor("#0DFFFFFF", "#F1F4F7")
    readonly property color footer_selected: selectColor(standart_x_color_1, "#259ADE")
    readonly property color grayRectColor: selectColor("#0DFFFFFF", "#F1F4F7")
    // The dimming shade under overlays.
    readonly property color shadowColor: selectColor("#99000000", "#5534404B")

    // Metrics of the standard skin, in scaled pixels.
    readonly property int standart_header_height: Dimensions.y(64)
    readonly property int standart_header_buttons_height: Dimensions.y(24)
    readonly property int standart_header_buttons_image_height: Dimensions.y(12)
    readonly property int standart_header_buttons_top_offset: Dimensions.y(10)
    readonly property int standart_header_buttons_side_offsets: Dimensions.x(10)
    readonly property int standart_line_width: 1
    readonly property int standart_side_offset: Dimensions.x(24)
    readonly property int standart_footer_height: Dimensions.y(62)
    readonly property int standart_stackview_topoffset: Dimensions.y(4)
    readonly property int light_stackview_topoffset: Dimensions.y(96)

    function selectColor(darkColor, lightColor) {
        return lightSkinType ? lightColor : darkColor
    }

    // A disabled control's colour: towards the background of the palette.
    function disableColor(c) {
        return lightSkinType ? Qt.lighter(c, disabledColorFactor) : Qt.darker(c, disabledColorFactor)
    }

    // The same by transparency, for colours drawn over images.
    function disableColor2(c) {
        var rgb = Qt.darker(c, 1.0)
        return Qt.rgba(rgb.r, rgb.g, rgb.b, rgb.a / disabledColorFactor)
    }

    function disableCommentColor(c) {
        var rgb = Qt.darker(c, 1.0)
        return Qt.rgba(rgb.r, rgb.g, rgb.b, rgb.a / (disabledColorFactor * 1.3))
    }

    function setupMaximumFlickVelocity(flickable) {
        if (flickable) {
            flickable.maximumFlickVelocity = Dimensions.y(2500)
            flickable.flickDeceleration = Dimensions.y(1500)
        }
    }
}
