#pragma once

#include "protocol/ExchangeOutcome.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>

// One line for the operator after each operation: how many probes were commanded, how many
// answered well, which channels failed. The engine numbers every request it is given and
// reports each by its number; the operations say beforehand which number goes to which probe,
// so a refused or late exchange can never shift one probe's verdict onto another.
class OperationSummaries : public QObject
{
    Q_OBJECT

public:
    // How long after its last command a round waits for outcomes the engine may never report
    // (the port closed under an exchange).
    static constexpr int lateOutcomeMs = 500;

    explicit OperationSummaries(QObject *parent = nullptr);

    // A new operation named as the operator knows it ("Запуск измерения"); commands are
    // announced with expect() while it is armed, and close() ends the arming.
    int begin(const QString &name);
    // `channel`, when given, counts the command toward that channel's part in the progress.
    void expect(int round, int channel = 0);
    void close(int round);

    // Called just before the command goes to the engine, with the number the engine will give
    // it. `attempted` is false when the port is closed: the engine then reports nothing.
    void issuing(int round, int channel, frames::Command command, uint64_t sequence,
                 bool attempted);
    // A channel the operation passed over for an invalid address field: the summary names it.
    void skipped(int round, int channel);

    void outcome(const ExchangeOutcome &outcome);

signals:
    void summary_Signal(const QString &text);
    // A channel's command that got no answer or never went out, as soon as that is known.
    void unanswered_Signal(int channel, frames::Command command);
    // How many of the operation's channels have all their outcomes, from the first command that
    // went out; `done` equals `total` once the operation has ended.
    void progress_Signal(const QString &name, int done, int total);

private:
    enum class Verdict { Ok, Error, NoAnswer, NotSent };

    struct Round
    {
        QString name;
        int armed = 0;
        bool closed = false;
        bool attempted = false;
        int pending = 0;
        std::map<int, Verdict> channels;  // the worst verdict of each channel's commands
        std::map<int, int> undecided;     // commands of each channel still without an outcome
        std::map<int, QString> reasons;   // the probe's first error text of each channel
        QStringList skipped;
    };
    struct Expected
    {
        int round;
        int channel;
        frames::Command command;
    };

    void record(Round &round, int channel, frames::Command command, Verdict verdict,
                const QString &reason = QString());
    void finishIfDone(int id);
    void giveUp(int id);
    static QString text(const Round &round);
    void showProgress(const Round &round);

    int nextId = 1;
    std::map<int, Round> rounds;
    std::map<uint64_t, Expected> expected;
};
