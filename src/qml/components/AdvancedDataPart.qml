import QtQuick 2.11
import QtQuick.Layouts 1.1
import "../singletons"

// The light skin's advanced options: one check box per option of the
// model's advanced list, with its description.
AColumnLayout {
    id: root

    spacing: Dimensions.y(10)

    ARepeater {
        model: viewmodel.optionModelAdvanced
        delegate: OptionCheckbox {
            Layout.fillWidth: true
            option: model.item
            comment: model.item ? model.item.description : ""
        }
    }
}
