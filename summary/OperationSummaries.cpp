#include "summary/OperationSummaries.h"

#include <QStringList>
#include <QTimer>

#include <algorithm>

OperationSummaries::OperationSummaries(QObject *parent) : QObject(parent) {}

int OperationSummaries::begin(const QString &name)
{
    const int id = nextId++;
    rounds[id].name = name;
    return id;
}

void OperationSummaries::expect(int round, int channel)
{
    if (auto it = rounds.find(round); it != rounds.end()) {
        ++it->second.armed;
        if (channel > 0)
            ++it->second.undecided[channel];
    }
}

void OperationSummaries::close(int round)
{
    if (auto it = rounds.find(round); it != rounds.end()) {
        it->second.closed = true;
        finishIfDone(round);
    }
}

void OperationSummaries::issuing(int round, int channel, frames::Command command, uint64_t sequence,
                                 bool attempted)
{
    auto it = rounds.find(round);
    if (it == rounds.end())
        return;
    Round &r = it->second;
    --r.armed;
    if (attempted) {
        if (!r.attempted) {
            r.attempted = true;
            showProgress(r);
        }
        ++r.pending;
        expected[sequence] = {round, channel, command};
        r.channels.emplace(channel, Verdict::Ok);
    } else {
        record(r, channel, command, Verdict::NotSent);
    }
    if (r.armed == 0 && r.pending > 0)
        QTimer::singleShot(lateOutcomeMs, this, [this, round] { giveUp(round); });
    finishIfDone(round);
}

void OperationSummaries::skipped(int round, int channel)
{
    if (auto it = rounds.find(round); it != rounds.end())
        it->second.skipped << QString::number(channel);
}

// One that matches no announced command (a second answer, a command issued by other code) is
// not counted; a late answer is another request's, so this one still waits for its own.
void OperationSummaries::outcome(const ExchangeOutcome &outcome)
{
    const auto found = expected.find(outcome.sequence);
    if (found == expected.end() || outcome.status == ExchangeOutcome::Status::Late)
        return;
    const Expected front = found->second;
    expected.erase(found);
    auto it = rounds.find(front.round);
    if (it == rounds.end())
        return;
    Verdict verdict = Verdict::Ok;
    switch (outcome.status) {
        case ExchangeOutcome::Status::Ok:
            break;
        case ExchangeOutcome::Status::DeviceError:
        case ExchangeOutcome::Status::BadAnswer:
            verdict = Verdict::Error;
            break;
        case ExchangeOutcome::Status::NoResponse:
            verdict = Verdict::NoAnswer;
            break;
        case ExchangeOutcome::Status::NotSent:
            verdict = Verdict::NotSent;
            break;
        case ExchangeOutcome::Status::Late:
            return;
    }
    --it->second.pending;
    record(it->second, front.channel, front.command, verdict, outcome.detail);
    finishIfDone(front.round);
}

void OperationSummaries::record(Round &round, int channel, frames::Command command, Verdict verdict,
                                const QString &reason)
{
    // "ошибка" alone sends the operator to the log; the probe's own word says what to do.
    if (verdict == Verdict::Error && !reason.isEmpty())
        round.reasons.emplace(channel, reason);
    if (verdict == Verdict::NoAnswer || verdict == Verdict::NotSent)
        emit unanswered_Signal(channel, command);
    auto [it, inserted] = round.channels.emplace(channel, verdict);
    if (!inserted)
        it->second = std::max(it->second, verdict);
    if (auto left = round.undecided.find(channel);
        left != round.undecided.end() && left->second > 0)
        if (--left->second == 0)
            showProgress(round);
}

void OperationSummaries::showProgress(const Round &round)
{
    if (!round.attempted || round.undecided.empty())
        return;
    const int done = int(std::count_if(round.undecided.begin(), round.undecided.end(),
                                       [](const auto &channel) { return channel.second == 0; }));
    emit progress_Signal(round.name, done, int(round.undecided.size()));
}

void OperationSummaries::finishIfDone(int id)
{
    auto it = rounds.find(id);
    if (it == rounds.end())
        return;
    const Round &round = it->second;
    if (!round.closed || round.armed > 0 || round.pending > 0)
        return;
    // Nothing reached an open port: nothing happened that the operator did not already see.
    if (round.attempted)
        emit summary_Signal(text(round));
    rounds.erase(it);
}

// Outcomes still missing this long after the last command will not come.
void OperationSummaries::giveUp(int id)
{
    auto it = rounds.find(id);
    if (it == rounds.end() || it->second.armed > 0 || it->second.pending == 0)
        return;
    for (auto e = expected.begin(); e != expected.end();) {
        if (e->second.round == id) {
            record(it->second, e->second.channel, e->second.command, Verdict::NoAnswer);
            e = expected.erase(e);
        } else {
            ++e;
        }
    }
    it->second.pending = 0;
    finishIfDone(id);
}

QString OperationSummaries::text(const Round &round)
{
    int ok = 0;
    QStringList failed[3];
    for (const auto &[channel, verdict] : round.channels) {
        if (verdict == Verdict::Ok)
            ++ok;
        else if (const auto reason = round.reasons.find(channel);
                 verdict == Verdict::Error && reason != round.reasons.end())
            failed[0] << QString::number(channel) + QStringLiteral(" — ") + reason->second;
        else
            failed[int(verdict) - 1] << QString::number(channel);
    }
    QString line = round.name + QStringLiteral(": приборов ") +
                   QString::number(round.channels.size()) + QStringLiteral(", успешно ") +
                   QString::number(ok);
    const QString labels[3] = {QStringLiteral("ошибка"), QStringLiteral("нет ответа"),
                               QStringLiteral("не отправлено")};
    for (int i = 0; i < 3; ++i) {
        if (failed[i].isEmpty())
            continue;
        line += QStringLiteral("; ") + labels[i] +
                (failed[i].size() == 1 ? QStringLiteral(": канал ") : QStringLiteral(": каналы ")) +
                failed[i].join(QStringLiteral(", "));
    }
    if (!round.skipped.isEmpty())
        line += (round.skipped.size() == 1 ? QStringLiteral("; не корректный адрес: канал ")
                                           : QStringLiteral("; не корректный адрес: каналы ")) +
                round.skipped.join(QStringLiteral(", "));
    return line;
}
