#include "ui/ContinuousMeasurement.h"

#include "protocol/Schedule.h"
#include "ui/ProbePanels.h"

#include <QInputDialog>
#include <QSignalBlocker>

#include <algorithm>
#include <climits>
#include <cmath>

ContinuousMeasurement::ContinuousMeasurement(QWidget *window, QStatusBar *statusBar,
                                             StateField *state, const QSerialPort &port,
                                             const OstraCommands &commands, m::ifc::ILog *log,
                                             int32_t delay, RoundArming arm)
    : window(window),
      statusBar(statusBar),
      state(state),
      port(port),
      commands(commands),
      log(log),
      delay(delay),
      arm(std::move(arm)),
      entry(new QAction(QStringLiteral("Непрерывное измерение"), window))
{
    entry->setObjectName(QStringLiteral("action_continuous_measurement"));
    entry->setCheckable(true);
    connect(entry, &QAction::toggled, this, &ContinuousMeasurement::toggled);
    timer.setTimerType(Qt::PreciseTimer);
    // Qt keeps a repeating timer to its schedule, so a round begun late by a busy loop would get
    // less than the interval before the next one, and could overlap it. Each round re-arms the
    // whole interval from its own start instead.
    connect(&timer, &QTimer::timeout, this, [this] {
        timer.start();
        this->arm(rounds.get());
    });
}

int ContinuousMeasurement::roundMs(int32_t delay, int answerLimitMs)
{
    const qint64 ms = qint64(schedule::measurementResultInterval(delay, probeCount - 1)) +
                      std::max(answerLimitMs, 0);
    return int(std::min<qint64>(ms, INT_MAX));
}

int ContinuousMeasurement::roundMs() const
{
    return roundMs(delay, commands.answerTimeLimit());
}

void ContinuousMeasurement::setChecked(bool checked)
{
    const QSignalBlocker quiet(entry);
    entry->setChecked(checked);
}

void ContinuousMeasurement::toggled(bool on)
{
    if (!on) {
        stop();
        return;
    }
    // Checked only once the rounds run.
    setChecked(false);
    if (isRunning())
        return;
    if (!port.isOpen()) {
        statusBar->showMessage(QStringLiteral("Устройство не подключено"), 5000);
        return;
    }
    askInterval();
}

void ContinuousMeasurement::askInterval()
{
    const double shortest = std::ceil(roundMs() / 100.0) / 10.0;
    auto *dialog = new QInputDialog(window);
    dialog->setObjectName(QStringLiteral("continuousInterval"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Непрерывное измерение"));
    dialog->setLabelText(QStringLiteral("Интервал между измерениями, с:"));
    dialog->setInputMode(QInputDialog::DoubleInput);
    dialog->setDoubleDecimals(1);
    dialog->setDoubleRange(shortest, 3600.0);
    dialog->setDoubleValue(std::max(shortest, timer.interval() / 1000.0));
    connect(dialog, &QInputDialog::doubleValueSelected, this,
            [this](double seconds) { start(int(std::lround(seconds * 1000.0))); });
    dialog->open();
}

void ContinuousMeasurement::start(int intervalMs)
{
    if (!port.isOpen() || isRunning())
        return;
    intervalMs = std::max(intervalMs, roundMs());
    rounds = std::make_unique<QObject>();
    setChecked(true);
    m::writeLine(log, 0,
                 QStringLiteral("Continuous measurement started, every %1 ms").arg(intervalMs));
    statusBar->showMessage(QStringLiteral("Непрерывное измерение запущено"), 5000);
    state->setItem(QStringLiteral("continuous"),
                   QStringLiteral("Непрерывное измерение, каждые %1 мс").arg(intervalMs));
    emit runningChanged(true);
    // The interval counts from the round's own start, after what the start cost the loop.
    timer.start(intervalMs);
    arm(rounds.get());
}

void ContinuousMeasurement::stop()
{
    if (!isRunning())
        return;
    timer.stop();
    rounds.reset();
    setChecked(false);
    m::writeLine(log, 0, QStringLiteral("Continuous measurement stopped"));
    statusBar->showMessage(QStringLiteral("Непрерывное измерение остановлено"), 5000);
    state->setItem(QStringLiteral("continuous"), QString());
    emit runningChanged(false);
}
