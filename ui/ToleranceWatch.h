#pragma once

#include "logging/ILog.h"
#include "protocol/ExchangeOutcome.h"
#include "quality/CalibrationJournal.h"
#include "quality/Limits.h"
#include "records/Record.h"
#include "ui_OrvaUI.h"

#include <QObject>
#include <QSet>

#include <deque>
#include <optional>

class QAction;
class QMainWindow;
class StateField;

// The tolerances at the line: reads limits.ini of the working folder, judges every result that
// reaches a panel (the panel's colour and a mark that needs no colour, ▲ above, ▼ below), keeps
// the alarm in the state field until the channel's next value is in tolerance or the operator
// acknowledges it, and writes each zero, measure point and reset with the probe's answer to the
// calibration journal.
class ToleranceWatch : public QObject
{
    Q_OBJECT

public:
    ToleranceWatch(Ui::OrvaUIClass &ui, StateField &state, m::ifc::ILog *log,
                   QObject *parent = nullptr);

    // "Допуски…" and "Квитировать допуск" in the window's "Приборы" menu, "Отчёт…" in "Файл".
    void addActions(QMainWindow *window);

    // A malformed file gives no limits, said in the state field and the log.
    void loadLimits();
    void setLimits(const quality::ChannelLimits &limits);
    const quality::ChannelLimits &limits() const { return channelLimits; }
    static QString limitsPath() { return QStringLiteral("limits.ini"); }

    // A result shown in its panels: marks them, moves the alarm, and gives the record the
    // verdict and the limits in force.
    void judge(records::Record &record);
    // An operation's summary, with the channels judged out of tolerance since the last one.
    QString annotate(const QString &summary);
    // Channels whose last value was out of tolerance and not acknowledged, ascending.
    QList<int> alarmChannels() const;
    void acknowledge();

    // A calibration command is going onto the line for `channel`'s panel; its outcome is written
    // to the journal when it comes.
    void calibrationIssued(int channel, frames::Command command, uint8_t address,
                           std::optional<float> measureUm);
    void exchangeFinished(const ExchangeOutcome &outcome);

signals:
    void limitsChanged(const quality::ChannelLimits &limits);
    void calibrationJournalled(const quality::CalibrationEvent &event);

private:
    void mark(int channel, quality::Verdict verdict);
    void showAlarm();
    void editLimits(QWidget *parent);

    struct Pending
    {
        QDateTime time;
        int channel;
        frames::Command command;
        uint8_t address;
        std::optional<float> measureUm;
    };

    Ui::OrvaUIClass &ui;
    StateField &state;
    m::ifc::ILog *log;
    quality::ChannelLimits channelLimits;
    QSet<int> alarmed;
    QSet<int> outSinceSummary;
    QAction *acknowledgeAction = nullptr;
    quality::CalibrationJournal journal;
    std::deque<Pending> pending;
};
