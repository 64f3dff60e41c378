#include "app/OrvaUI.h"
#include "protocol/FieldRules.h"

// The probe panels' handlers: what a click on a panel's button or an edited address field does.

void OrvaUI::addressEdited(int probe)
{
    const ProbePanel panel = probePanels(ui)[probe];
    const bool valid = fieldrules::parseProbeAddress(panel.address->text()).has_value();
    for (QWidget *control : panel.controls())
        control->setEnabled(valid);
    for (QPushButton *button : {panel.reset, panel.zero, panel.measure})
        button->setEnabled(valid && !lineOwner.isTaken());
}

// Ascending, from probe 1 on; the fields beyond the addresses are emptied.
void OrvaUI::fillAddresses(const std::vector<uint8_t> &addresses)
{
    const auto panels = probePanels(ui);
    for (int probe = 0; probe < probeCount; ++probe) {
        panels[probe].address->setText(size_t(probe) < addresses.size()
                                           ? QString::number(addresses[size_t(probe)])
                                           : QString());
        addressEdited(probe);
    }
}

std::optional<uint8_t> OrvaUI::probeAddress(int probe)
{
    const auto addr = fieldrules::parseProbeAddress(probePanels(ui)[probe].address->text());
    if (!addr)
        ui.statusBar->showMessage(
            QStringLiteral("Не корректный адрес, канал ") + QString::number(probe + 1), 5000);
    return addr;
}

void OrvaUI::resetCalibration_Slot(uint8_t addr)
{
    commands.resetCalibration(addr);
}

void OrvaUI::setZeroPoint_Slot(uint8_t addr)
{
    commands.setZeroPoint(addr);
}

void OrvaUI::setMeasurePoint_Slot(uint8_t addr)
{
    const auto thickness = fieldrules::parseMeasureValue(ui.le_line_meas_setpoint->text());
    if (!thickness) {
        // Stays until another message replaces it: the operator must fix the field first.
        ui.statusBar->showMessage(QStringLiteral("Не корректное значение меры"));
        return;
    }
    // The refusal of an earlier value is answered now.
    if (ui.statusBar->currentMessage() == QStringLiteral("Не корректное значение меры"))
        ui.statusBar->clearMessage();
    commands.setMeasurePoint(addr, *thickness);
}

// The addresses the settings-driven operations use, visible and ready: each panel as if its
// address had been typed.
void OrvaUI::prefillAddresses()
{
    const auto panels = probePanels(ui);
    for (const auto &[probe, addr] : probeToAddr) {
        if (probe >= probeCount)
            continue;
        panels[probe].address->setText(QString::number(addr));
        addressEdited(probe);
    }
}

// Tab walks the panels in reading order, each address before its value and buttons; Return in
// an address field goes on to the next address, after the last to the measure value.
void OrvaUI::setUpKeyboard()
{
    const auto panels = probePanels(ui);
    QList<QWidget *> order{ui.pb_line_meas_update_air, ui.pb_line_meas_get, ui.cb_ports,
                           ui.pb_connect};
    for (const ProbePanel &panel : panels)
        order << panel.address << panel.value << panel.reset << panel.zero << panel.measure;
    order << ui.le_line_meas_setpoint;
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    for (int probe = 0; probe < probeCount; ++probe) {
        QLineEdit *next =
            probe + 1 < probeCount ? panels[probe + 1].address : ui.le_line_meas_setpoint;
        connect(panels[probe].address, &QLineEdit::returnPressed, next, [next] {
            next->setFocus(Qt::TabFocusReason);
            next->selectAll();
        });
    }
}
