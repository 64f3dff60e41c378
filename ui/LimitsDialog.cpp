#include "ui/LimitsDialog.h"

#include "records/Record.h"

#include <QPushButton>

#include <cmath>
#include <limits>

namespace {

QString text(double value)
{
    return QString::number(value, 'g', 9);
}

}  // namespace

LimitsDialog::LimitsDialog(const quality::ChannelLimits &limits, QWidget *parent)
    : QDialog(parent), edited(limits)
{
    ui.setupUi(this);
    ui.buttons->button(QDialogButtonBox::Save)->setText(QStringLiteral("Сохранить"));
    ui.buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    connect(ui.buttons, &QDialogButtonBox::accepted, this, &LimitsDialog::accept);
    connect(ui.buttons, &QDialogButtonBox::rejected, this, &LimitsDialog::reject);
    for (int channel = 1; channel <= records::channelCount; ++channel) {
        const auto &limit = limits[size_t(channel - 1)];
        for (int column = 0; column < 3; ++column) {
            const double value = !limit        ? 0
                                 : column == 0 ? limit->nominal
                                 : column == 1 ? limit->lower
                                               : limit->upper;
            ui.table_limits->setItem(channel - 1, column,
                                     new QTableWidgetItem(limit ? text(value) : QString()));
        }
    }
}

QString LimitsDialog::readRow(int channel, std::optional<quality::Limits> &limits) const
{
    limits.reset();
    double values[3] = {};
    bool given[3] = {};
    for (int column = 0; column < 3; ++column) {
        const QTableWidgetItem *item = ui.table_limits->item(channel - 1, column);
        const QString cell = item ? item->text().trimmed() : QString();
        given[column] = !cell.isEmpty();
        bool ok = !given[column];
        if (given[column])
            values[column] = cell.toDouble(&ok);
        if (!ok || !(std::abs(values[column]) <= double(std::numeric_limits<float>::max())))
            return QStringLiteral("Канал %1: не число «%2»").arg(channel).arg(cell);
    }
    if (!given[0] && !given[1] && !given[2])
        return {};
    if (!given[1] || !given[2])
        return QStringLiteral("Канал %1: нужны обе границы").arg(channel);
    const quality::Limits read{given[0] ? values[0] : (values[1] + values[2]) / 2, values[1],
                               values[2]};
    if (read.lower > read.upper)
        return QStringLiteral("Канал %1: нижняя граница выше верхней").arg(channel);
    if (read.nominal < read.lower || read.nominal > read.upper)
        return QStringLiteral("Канал %1: номинал вне границ").arg(channel);
    limits = read;
    return {};
}

void LimitsDialog::accept()
{
    quality::ChannelLimits read;
    for (int channel = 1; channel <= records::channelCount; ++channel) {
        const QString error = readRow(channel, read[size_t(channel - 1)]);
        if (!error.isEmpty()) {
            ui.label_error->setText(error);
            return;
        }
    }
    edited = read;
    QDialog::accept();
}
