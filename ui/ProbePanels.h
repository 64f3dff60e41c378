#pragma once

#include "protocol/ProbeLine.h"
#include "ui_OrvaUI.h"

#include <array>

using probeline::probeCount;

// The widgets of one probe's group box: the eight panels differ in nothing else.
struct ProbePanel
{
    QLineEdit *address;
    QLineEdit *value;
    QLabel *unit;
    QLabel *caption;
    QPushButton *zero;
    QPushButton *measure;
    QPushButton *reset;

    // Everything but the address field, in the order they are enabled.
    std::array<QWidget *, 6> controls() const
    {
        return {caption, value, unit, reset, zero, measure};
    }
};

// Panels in probe order: index 0 is probe 1.
std::array<ProbePanel, probeCount> probePanels(const Ui::OrvaUIClass &ui);
