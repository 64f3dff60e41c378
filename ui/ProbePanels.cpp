#include "ui/ProbePanels.h"

std::array<ProbePanel, probeCount> probePanels(const Ui::OrvaUIClass &ui)
{
    return {{
        {ui.le_addr_1, ui.le_line_meas_1, ui.label_9, ui.label_23, ui.pb_line_meas_zero_1,
         ui.pb_line_meas_setpoint_1, ui.pb_line_meas_reset_1},
        {ui.le_addr_2, ui.le_line_meas_2, ui.label_25, ui.label_26, ui.pb_line_meas_zero_2,
         ui.pb_line_meas_setpoint_2, ui.pb_line_meas_reset_2},
        {ui.le_addr_3, ui.le_line_meas_3, ui.label_28, ui.label_29, ui.pb_line_meas_zero_3,
         ui.pb_line_meas_setpoint_3, ui.pb_line_meas_reset_3},
        {ui.le_addr_4, ui.le_line_meas_4, ui.label_46, ui.label_47, ui.pb_line_meas_zero_4,
         ui.pb_line_meas_setpoint_4, ui.pb_line_meas_reset_4},
        {ui.le_addr_5, ui.le_line_meas_5, ui.label_49, ui.label_50, ui.pb_line_meas_zero_5,
         ui.pb_line_meas_setpoint_5, ui.pb_line_meas_reset_5},
        {ui.le_addr_6, ui.le_line_meas_6, ui.label_52, ui.label_53, ui.pb_line_meas_zero_6,
         ui.pb_line_meas_setpoint_6, ui.pb_line_meas_reset_6},
        {ui.le_addr_7, ui.le_line_meas_7, ui.label_55, ui.label_56, ui.pb_line_meas_zero_7,
         ui.pb_line_meas_setpoint_7, ui.pb_line_meas_reset_7},
        {ui.le_addr_8, ui.le_line_meas_8, ui.label_58, ui.label_59, ui.pb_line_meas_zero_8,
         ui.pb_line_meas_setpoint_8, ui.pb_line_meas_reset_8},
    }};
}
