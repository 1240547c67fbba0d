import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Loomwatch

ScrollView {
    id: tab

    objectName: "settings.tools"
    contentWidth: availableWidth
    clip: true

    function save() {
        budget.commit()
        Backend.preferences.pricingJSON = pricing.text
        Backend.preferences.handoffTemplate = template.text
        Backend.preferences.save()
    }

    ColumnLayout {
        x: 20
        y: 20
        width: tab.availableWidth - 40
        spacing: 12

        RowLayout {
            spacing: 10
            Layout.fillWidth: true
            Label {
                text: "Daily budget alert (USD)"
                font: Theme.body
                color: Theme.primary
            }
            TextField {
                id: budget
                objectName: "settings.budget"
                text: Backend.preferences.dailyBudgetText
                horizontalAlignment: Text.AlignRight
                validator: DoubleValidator {
                    bottom: 0
                    notation: DoubleValidator.StandardNotation
                    locale: Qt.locale().name
                }
                Layout.preferredWidth: 120
                function commit() {
                    if (!Backend.preferences.setDailyBudgetText(text))
                        text = Backend.preferences.dailyBudgetText
                }
                onEditingFinished: commit()
            }
            Item { Layout.fillWidth: true }
        }

        ResourceEditor {
            id: pricing
            objectName: "settings.pricing"
            title: "Model pricing JSON"
            text: Backend.preferences.pricingJSON
        }
        ResourceEditor {
            id: template
            objectName: "settings.template"
            title: "Handoff template"
            text: Backend.preferences.handoffTemplate
        }

        RowLayout {
            Layout.fillWidth: true
            Item { Layout.fillWidth: true }
            Button {
                objectName: "settings.reset"
                text: "Reset Defaults"
                onClicked: Backend.preferences.resetDefaults()
            }
            Button {
                objectName: "settings.save"
                text: "Save"
                highlighted: true
                onClicked: tab.save()
            }
        }

        Label {
            objectName: "settings.resourceMessage"
            visible: text.length > 0
            text: Backend.preferences.resourceMessage
            font: Theme.caption
            color: Theme.secondary
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }

        Item { implicitHeight: 20 }
    }

    // Return saves unless an editor has the focus (where it starts a new line).
    Shortcut {
        sequences: ["Return", "Enter"]
        enabled: tab.visible && !pricing.editor.activeFocus && !template.editor.activeFocus
        onActivated: tab.save()
    }
}
