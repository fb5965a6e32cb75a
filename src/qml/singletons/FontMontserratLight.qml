pragma Singleton
import QtQuick 2.11

FontLoader {
    source: "qrc:/fonts/montserrat/Montserrat-Light.otf"
}
