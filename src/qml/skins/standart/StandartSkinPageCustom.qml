import QtQuick 2.11
import "../../components"

// Base of the standard skin's pages.
SkinPageCustom {
}
