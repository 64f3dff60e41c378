#pragma once

#include "logging/ILog.h"
#include "protocol/OstraCommands.h"
#include "ui/StateField.h"

#include <QAction>
#include <QObject>
#include <QSerialPort>
#include <QStatusBar>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>

// "Непрерывное измерение": repeats the "Запуск измерения" round at the operator's interval,
// never shorter than a round. Its rounds arm their commands on a context of their own, so that
// stopping cancels the commands already armed, where a clicked round's timers always run out.
class ContinuousMeasurement : public QObject
{
    Q_OBJECT

public:
    // Arms one round's commands on timers that die with `context`.
    using RoundArming = std::function<void(QObject *context)>;

    ContinuousMeasurement(QWidget *window, QStatusBar *statusBar, StateField *state,
                          const QSerialPort &port, const OstraCommands &commands, m::ifc::ILog *log,
                          int32_t delay, RoundArming arm);

    // The checkable menu entry: on asks for the interval, off stops.
    QAction *action() const { return entry; }

    // From the first start to the last result's answer limit, clamped to what a timer holds.
    static int roundMs(int32_t delay, int answerLimitMs);
    int roundMs() const;

    void start(int intervalMs);
    // The round under way stops too: its armed commands never go.
    void stop();
    bool isRunning() const { return rounds != nullptr; }

signals:
    void runningChanged(bool running);

private:
    void toggled(bool on);
    void askInterval();
    void setChecked(bool checked);

    QWidget *window;
    QStatusBar *statusBar;
    StateField *state;
    const QSerialPort &port;
    const OstraCommands &commands;
    m::ifc::ILog *log;
    int32_t delay;
    RoundArming arm;
    QAction *entry;
    QTimer timer;
    // The context of the rounds' armed commands, while they run.
    std::unique_ptr<QObject> rounds;
};
