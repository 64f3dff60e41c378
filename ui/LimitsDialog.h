#pragma once

#include "quality/Limits.h"
#include "ui_LimitsDialog.h"

#include <QDialog>

// "Приборы" → "Допуски…": the nominal value and the limits of each channel. Saves only what
// limits.ini can hold: both limits, the lower not above the upper, the nominal between them.
class LimitsDialog : public QDialog
{
    Q_OBJECT

public:
    LimitsDialog(const quality::ChannelLimits &limits, QWidget *parent = nullptr);

    quality::ChannelLimits limits() const { return edited; }
    Ui::LimitsDialog ui;

public slots:
    void accept() override;

private:
    // Why row `channel` cannot be saved; empty when it can.
    QString readRow(int channel, std::optional<quality::Limits> &limits) const;

    quality::ChannelLimits edited;
};
