#include "ui/LineOwner.h"

#include "ui/ProbePanels.h"

LineOwner::LineOwner(const Ui::OrvaUIClass &ui) : ui(ui) {}

QList<QPushButton *> LineOwner::buttons() const
{
    QList<QPushButton *> all{ui.pb_line_meas_update_air, ui.pb_line_meas_get};
    for (const ProbePanel &panel : probePanels(ui))
        all << panel.reset << panel.zero << panel.measure;
    return all;
}

void LineOwner::take(const QString &why)
{
    reason = why;
    for (QPushButton *button : buttons()) {
        button->setEnabled(false);
        button->setToolTip(why);
    }
}

// An operation can only have started on an open port, which the workflow buttons were
// enabled for.
void LineOwner::release()
{
    if (!isTaken())
        return;
    reason.clear();
    for (QPushButton *button : buttons())
        button->setToolTip(QString());
    ui.pb_line_meas_update_air->setEnabled(true);
    ui.pb_line_meas_get->setEnabled(true);
    emit released();
}
