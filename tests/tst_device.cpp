#include "probesim/Answers.h"
#include "support/CommandRig.h"

#include <QtTest>

#include <poll.h>
#include <sys/ioctl.h>
#include <memory>
#include <optional>
#include <set>

using frames::Command;

Q_DECLARE_METATYPE(frames::Command)

namespace {

constexpr uint8_t probeAddress = 1;
constexpr float raw = 321.5f;
constexpr float calibrated = 300.25f;
constexpr uint8_t quality = 77;
constexpr uint8_t statusBusy = 4;

struct CommandCase
{
    Command command;
    const char *name;
    // From the independent vectors in protocol.tsv.
    const char *frame;
    void (*issue)(OstraCommands &);
};

const CommandCase commandCases[] = {
    {Command::UpdateAirCode, "Update Air Code", "f501174559",
     [](OstraCommands &c) { c.updateAirCode(probeAddress); }},
    {Command::CheckAirCode, "Check Air Code", "f501198bb8",
     [](OstraCommands &c) { c.checkAirCode(probeAddress); }},
    {Command::StartMeasurement, "Start Measurement", "f5011bc998",
     [](OstraCommands &c) { c.startMeasurement(probeAddress); }},
    {Command::GetMeasurementResult, "Get Measurement Result", "f5011d0ff8",
     [](OstraCommands &c) { c.getMeasurementResult(probeAddress); }},
    {Command::SetZeroPoint, "Set Zero Point", "f5011f4dd8",
     [](OstraCommands &c) { c.setZeroPoint(probeAddress); }},
    {Command::SetMeasurePoint, "Set Measure Point", "f501210000c8420146",
     [](OstraCommands &c) { c.setMeasurePoint(probeAddress, 100.0f); }},
    {Command::ResetCalibration, "Reset Calibration", "f50123922f",
     [](OstraCommands &c) { c.resetCalibration(probeAddress); }},
    {Command::TestMem, "Test", "f501c8d763", [](OstraCommands &c) { c.testMem(); }},
};

const CommandCase &caseOf(Command command)
{
    return *std::find_if(std::begin(commandCases), std::end(commandCases),
                         [command](const CommandCase &entry) { return entry.command == command; });
}

QString nameOf(Command command)
{
    return QString::fromLatin1(caseOf(command).name);
}

QByteArray answer(Command command, uint8_t status = 0)
{
    return command == Command::GetMeasurementResult
               ? probesim::resultFrame(probeAddress, status, raw, calibrated, quality)
               : probesim::acknowledgeFrame(probeAddress, uint8_t(command), status);
}

}  // namespace

// The device layer on a real port: the frame each command puts on the line, how the bytes that
// come back turn into deliveries and log lines, and that whatever one answer left behind never
// reaches the next request.
class TestDevice : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CommandRig> rig;

    bool send(Command command) { return rig->send(caseOf(command).issue); }

    int receptions() const { return rig->log.lines.filter(QStringLiteral("1 Rx ")).size(); }

    // Sends `command` and answers it with `pieces`, each one in the port before the next.
    void exchange(Command command, const QByteArrayList &pieces)
    {
        probesim::ProbeBus &bus = rig->simulator.bus();
        bus.clearRequests();
        QVERIFY(send(command));
        QTRY_COMPARE_WITH_TIMEOUT(int(bus.requests().size()), 1, 2000);
        QCOMPARE(bus.requests().front().bytes, QByteArray::fromHex(caseOf(command).frame));
        const int size = int(frames::expectedResponseSize(command));
        int written = 0;
        for (const QByteArray &piece : pieces) {
            bus.writeRaw(piece);
            written += piece.size();
            QTRY_COMPARE_WITH_TIMEOUT(receptions() * size + rig->port.bytesAvailable(),
                                      qint64(written), 2000);
        }
    }

    static void checkMeasured(const QSignalSpy &measured, int count)
    {
        const QVariantList expected{QVariant::fromValue(probeAddress), raw, calibrated,
                                    QVariant::fromValue(quality)};
        QCOMPARE(measured.count(), count);
        for (const QList<QVariant> &values : measured)
            QCOMPARE(values, expected);
    }

private slots:
    void initTestCase()
    {
        // The signal names its byte arguments by this alias; the window registers it the same way.
        qRegisterMetaType<uint8_t>("uint8_t");
    }

    void init()
    {
        rig = std::make_unique<CommandRig>();
        QVERIFY2(rig->open(), qPrintable(rig->simulator.errorString() + rig->port.errorString()));
        // The test speaks for the probe, slower than a probe would.
        rig->simulator.faults().setRate(probesim::Fault::NoAnswer, 1.0);
        rig->commands.setAnswerTimeLimit(5000);
    }

    void cleanup() { rig.reset(); }

    void exchanges_data()
    {
        QTest::addColumn<Command>("command");
        QTest::addColumn<QByteArrayList>("pieces");
        // The lines after the command's and the Tx line.
        QTest::addColumn<QStringList>("deliveries");
        QTest::addColumn<int>("leftover");
        const auto row = [](Command command, const QString &name) -> QTestData & {
            return QTest::addRow("%s, %s", caseOf(command).name, qPrintable(name)) << command;
        };
        const char *const errors[] = {
            "Unknown commmand", "Internal",      "Incorrect parameters", "Busy",
            "Unstable",         "No Measurement"};
        // Only 1 to 6 are errors; the memory test knows only 0 and 2.
        const auto verdict = [&errors](Command command, int status) {
            if (command == Command::TestMem)
                return QStringLiteral("1 ") + (status == 0   ? "Test OK"
                                               : status == 2 ? "Internal Error"
                                                             : "Unknown Error");
            return status >= 1 && status <= 6 ? QStringLiteral("1 Error: ") + errors[status - 1]
                                              : "1 " + nameOf(command) + " OK";
        };

        for (const CommandCase &entry : commandCases) {
            const Command command = entry.command;
            const QByteArray good = answer(command);
            // Surplus bytes come from another well-made answer, so that any of them reaching a
            // handler shows in the log.
            const QByteArray other = answer(command, statusBusy);
            const int size = good.size();
            const QString ok = verdict(command, 0);
            const QStringList whole{trace::rxLine(size, size, good), ok};
            for (const int status : {0, 1, 2, 3, 4, 5, 6, 7, 255}) {
                const QByteArray frame = answer(command, uint8_t(status));
                row(command, QStringLiteral("status %1").arg(status))
                    << QByteArrayList{frame}
                    << QStringList{trace::rxLine(size, size, frame), verdict(command, status)} << 0;
            }
            const QByteArray badHash = good.left(size - 1) + char(~good[size - 1]);
            const QByteArray garbled = QByteArray(2, '\0') + good;
            row(command, "bad hash")
                << QByteArrayList{badHash}
                << QStringList{trace::rxLine(size, size, badHash), "1 Bad hash"} << 0;
            row(command, "in pieces") << QByteArrayList{good.left(2), good.mid(2)} << whole << 0;
            row(command, "garbage before")
                << QByteArrayList{garbled}
                << QStringList{trace::rxLine(size, size + 2, garbled.left(size)), "1 Bad hash"}
                << 2;
            // A long answer gives its first answer's worth; the rest waits for more bytes.
            for (const int length : std::set<int>{1, size - 1, size + 1, 2 * size, 30}) {
                const QByteArray line = (good + other.repeated(5)).left(length);
                row(command, QStringLiteral("%1 bytes").arg(length))
                    << QByteArrayList{line}
                    << (length < size ? QStringList()
                                      : QStringList{trace::rxLine(size, length, good), ok})
                    << (length < size ? length : length - size);
            }
            row(command, "two at once, then one byte more")
                << QByteArrayList{good + other, QByteArray(1, '\0')}
                << QStringList{trace::rxLine(size, 2 * size, good), ok,
                               trace::rxLine(size, size + 1, other), verdict(command, statusBusy)}
                << 1;
            row(command, "answered twice, apart")
                << QByteArrayList{good, good} << whole + whole << 0;
        }
    }

    void exchanges()
    {
        QFETCH(Command, command);
        QFETCH(QByteArrayList, pieces);
        QFETCH(QStringList, deliveries);
        QFETCH(int, leftover);
        QSignalSpy measured(&rig->commands, &OstraCommands::newMeasurement_Signal);
        QSignalSpy outcomes(&rig->commands, &OstraCommands::exchangeFinished_Signal);
        exchange(command, pieces);
        const QByteArray request = QByteArray::fromHex(caseOf(command).frame);
        const QStringList head{"1 " + nameOf(command) + ':', trace::txLine(request)};
        QCOMPARE(rig->log.lines, head + deliveries);
        QCOMPARE(rig->port.bytesAvailable(), qint64(leftover));
        // A value goes to the window only when the probe reported it without error.
        checkMeasured(measured, deliveries.count("1 Get Measurement Result OK"));
        // One outcome per verdict, telling success, the probe's errors and spoilt answers apart.
        const QStringList verdicts = deliveries.filter(QRegularExpression("^1 (?!Rx )"));
        QCOMPARE(outcomes.count(), verdicts.count());
        for (int i = 0; i < verdicts.count(); ++i) {
            const auto outcome = outcomes.at(i).at(0).value<ExchangeOutcome>();
            QCOMPARE(outcome.command, command);
            QCOMPARE(outcome.address, probeAddress);
            const QString &verdict = verdicts.at(i);
            const auto expected = verdict.endsWith(" OK")   ? ExchangeOutcome::Status::Ok
                                  : verdict == "1 Bad hash" ? ExchangeOutcome::Status::BadAnswer
                                                            : ExchangeOutcome::Status::DeviceError;
            QCOMPARE(outcome.status, expected);
            if (!outcome.ok())
                QVERIFY(verdict.endsWith(outcome.detail));
            QCOMPARE(outcome.answer.size(), int(frames::expectedResponseSize(command)));
        }

        // The next request hears its own answer alone, whatever this one left in the port; an
        // answer that never came whole is reported as none before it goes.
        const QStringList unanswered =
            deliveries.isEmpty() ? QStringList{"1 No response"} : QStringList();
        rig->log.lines.clear();
        measured.clear();
        exchange(command, {answer(command)});
        QVERIFY(rig->waitForLines(4 + unanswered.size()));
        QCOMPARE(rig->log.lines,
                 unanswered + trace::exchange(nameOf(command), request, answer(command),
                                              {"1 " + nameOf(command) + " OK"}));
        QCOMPARE(rig->port.bytesAvailable(), 0);
        checkMeasured(measured, command == Command::GetMeasurementResult ? 1 : 0);
    }

    // Each frame ends in a hash that fits it: the size alone must reject it. The line cannot
    // bring these, as the engine cuts answers by length.
    void wrongSizeAnswers()
    {
        QSignalSpy measured(&rig->commands, &OstraCommands::newMeasurement_Signal);
        const QByteArray result = answer(Command::GetMeasurementResult);
        const std::pair<Command, QByteArray> answers[] = {
            {Command::CheckAirCode, QByteArray::fromHex(caseOf(Command::CheckAirCode).frame)},
            {Command::StartMeasurement, result},
            {Command::GetMeasurementResult, answer(Command::StartMeasurement)},
            {Command::TestMem, result}};
        for (const auto &[command, frame] : answers)
            rig->commands.handleResponse(command, frame);
        QCOMPARE(rig->log.lines,
                 QVector<QString>(4, QStringLiteral("1 Wrong response size")).toList());
        QCOMPARE(measured.count(), 0);
    }

    void unansweredExchangeIsReported_data()
    {
        QTest::addColumn<Command>("command");
        QTest::addColumn<int>("sent");
        QTest::newRow("acknowledge, nothing") << Command::SetZeroPoint << 0;
        QTest::newRow("acknowledge, a byte short") << Command::SetZeroPoint << 5;
        QTest::newRow("result, nothing") << Command::GetMeasurementResult << 0;
        QTest::newRow("result, a byte short") << Command::GetMeasurementResult << 14;
    }

    // After the time limit the exchange is reported unanswered once; an answer that comes later
    // still goes where it always went, but is reported as late, never as the request's answer.
    void unansweredExchangeIsReported()
    {
        QFETCH(Command, command);
        QFETCH(int, sent);
        rig->commands.setAnswerTimeLimit(probeline::answerTimeLimitMs);
        QSignalSpy outcomes(&rig->commands, &OstraCommands::exchangeFinished_Signal);
        QSignalSpy measured(&rig->commands, &OstraCommands::newMeasurement_Signal);
        // Started before the call: the engine arms its limit inside it, before the write.
        QElapsedTimer sinceSent;
        sinceSent.start();
        QVERIFY(send(command));
        rig->simulator.bus().writeRaw(answer(command).left(sent));
        QVERIFY(outcomes.wait(2000));
        QVERIFY2(sinceSent.elapsed() >= probeline::answerTimeLimitMs,
                 qPrintable(QString::number(sinceSent.elapsed())));
        const QByteArray request = QByteArray::fromHex(caseOf(command).frame);
        QCOMPARE(rig->log.lines, QStringList({"1 " + nameOf(command) + ':', trace::txLine(request),
                                              "1 No response"}));
        auto outcome = outcomes.at(0).at(0).value<ExchangeOutcome>();
        QCOMPARE(outcome.status, ExchangeOutcome::Status::NoResponse);
        QCOMPARE(outcome.command, command);
        QCOMPARE(outcome.address, probeAddress);

        const QByteArray whole = answer(command);
        rig->simulator.bus().writeRaw(whole.mid(sent));
        QVERIFY(outcomes.wait(2000));
        QCOMPARE(rig->log.lines.mid(3),
                 (QStringList{trace::rxLine(whole.size(), whole.size(), whole),
                              "1 " + nameOf(command) + " OK"}));
        const auto lateOne = outcomes.at(1).at(0).value<ExchangeOutcome>();
        QCOMPARE(lateOne.status, ExchangeOutcome::Status::Late);
        QCOMPARE(lateOne.sequence, outcome.sequence);
        QCOMPARE(lateOne.sender, probeAddress);
        checkMeasured(measured, command == Command::GetMeasurementResult ? 1 : 0);
        // Reported once only, however long the line stays quiet.
        QVERIFY(!outcomes.wait(3 * probeline::answerTimeLimitMs));
    }

    void gapEdges_data()
    {
        QTest::addColumn<Command>("first");
        QTest::addColumn<int>("afterMs");
        QTest::addColumn<bool>("sent");
        // The shortest and the longest exchange keep the same gap.
        for (const Command first : {Command::CheckAirCode, Command::GetMeasurementResult}) {
            QTest::addRow("%s, 4 ms", caseOf(first).name) << first << 4 << false;
            QTest::addRow("%s, 5 ms", caseOf(first).name) << first << 5 << true;
        }
    }

    // The line's minimum gap to the millisecond, on the engine's own clock: a request 4 ms after
    // the previous transmission is refused, one 5 ms after it goes.
    void gapEdges()
    {
        QFETCH(Command, first);
        QFETCH(int, afterMs);
        QFETCH(bool, sent);
        const SysTime clock;
        const auto since = [&clock](uint32_t start) { return clock.elapsedMs({start}).value; };
        const QString refusal =
            QStringLiteral("1 Packet not sended. Waiting after the previous command.");
        // The second call's first log line comes within microseconds of its gap check, however
        // long the sending after it takes on a loaded machine.
        struct FirstLineTime : m::ifc::ILog
        {
            explicit FirstLineTime(const SysTime &clock) : clock(clock) {}
            void write(uint32_t, std::string_view) override
            {
                if (!ms)
                    ms = clock.nowMs().value;
            }
            const SysTime &clock;
            std::optional<uint32_t> ms;
        } secondCall(clock);
        QSignalSpy outcomes(&rig->commands, &OstraCommands::exchangeFinished_Signal);
        uint64_t issued = 0;
        uint32_t lastCall = clock.nowMs().value;
        bool decided = false;
        // An attempt counts only if the transmission and the second call's gap check each fell
        // within one millisecond of the clock; a tick in between makes it inconclusive.
        for (int attempt = 0; attempt < 200 && !decided; ++attempt) {
            QVERIFY(CommandRig::waitUntil([&]() { return since(lastCall) > 6; }));
            rig->log.lines.clear();
            const uint32_t before = clock.nowMs().value;
            issued = rig->commands.nextSequence();
            caseOf(first).issue(rig->commands);
            if (clock.nowMs().value != before || rig->log.lines.contains(refusal)) {
                lastCall = clock.nowMs().value;
                continue;
            }
            while (since(before) < uint32_t(afterMs)) {
            }
            const bool onTime = since(before) == uint32_t(afterMs);
            if (onTime) {
                secondCall.ms.reset();
                outcomes.clear();
                rig->log.forward = &secondCall;
                rig->commands.startMeasurement(probeAddress);
                rig->log.forward = nullptr;
            }
            decided = onTime && secondCall.ms && *secondCall.ms - before == uint32_t(afterMs);
            lastCall = clock.nowMs().value;
        }
        QVERIFY2(decided, "the clock never held still long enough");
        // The next test's first request must not fall into this one's gap.
        QVERIFY(CommandRig::waitUntil([&]() { return since(lastCall) > 6; }));
        QCOMPARE(rig->log.lines.contains(refusal), !sent);
        // A request that goes out closes the previous exchange first; a refused one does not,
        // and is reported under a number of its own, after the one that went out.
        QCOMPARE(outcomes.count(), 1);
        const auto outcome = outcomes.at(0).at(0).value<ExchangeOutcome>();
        QCOMPARE(outcome.status,
                 sent ? ExchangeOutcome::Status::NoResponse : ExchangeOutcome::Status::NotSent);
        QCOMPARE(outcome.command, sent ? first : Command::StartMeasurement);
        QCOMPARE(outcome.sequence, sent ? issued : issued + 1);
        QCOMPARE(rig->commands.lastIssued(), issued + 1);
        // The line is first-in first-out: a refused request would come before the next one.
        const std::vector<probesim::ProbeRequest> &line = rig->simulator.bus().requests();
        QVERIFY(send(Command::TestMem));
        QTRY_VERIFY_WITH_TIMEOUT(!line.empty() && line.back().code() == uint8_t(Command::TestMem),
                                 2000);
        QCOMPARE(line.at(line.size() - 2).code(),
                 uint8_t(sent ? Command::StartMeasurement : first));
    }

    // A closed port sends and logs nothing. Then every command in turn against a probe behind
    // an FTDI adapter at its default latency timer: each frame on the line as its call returns,
    // each answer the request's own, whatever size the previous one had, within the answer time
    // limit, and logged as any other.
    void commandsInTurnAtAnAdaptersLatency()
    {
        rig->port.close();
        QVERIFY(send(Command::GetMeasurementResult));
        QVERIFY(rig->log.lines.isEmpty());
        QVERIFY(rig->port.open(QIODevice::ReadWrite));
        rig->simulator.faults().clear();
        QVERIFY(rig->simulator.model().addProbe(probeAddress));
        rig->simulator.bus().setLatency(adapter::ftdiDefaultMs, 0);
        rig->commands.setAnswerTimeLimit(probeline::answerTimeLimitMs);
        QSignalSpy outcomes(&rig->commands, &OstraCommands::exchangeFinished_Signal);
        for (const CommandCase &entry : commandCases) {
            rig->log.lines.clear();
            outcomes.clear();
            const uint64_t sequence = rig->commands.nextSequence();
            QVERIFY(rig->send(entry.issue));
            // Not on the loop's next turn: the window's thread may be held up before its next
            // request clears the port's buffers, which would throw an unsent frame away.
            pollfd line{rig->simulator.lineFd(), POLLIN, 0};
            int onLine = -1;
            QVERIFY(::poll(&line, 1, 200) == 1 &&
                    ::ioctl(rig->simulator.lineFd(), FIONREAD, &onLine) == 0);
            QCOMPARE(onLine, frames::requestSize(entry.command));
            QVERIFY(outcomes.wait(2000));
            const auto outcome = outcomes.at(0).at(0).value<ExchangeOutcome>();
            QCOMPARE(outcome.sequence, sequence);
            // A result before any start is answered with the probe's "No Measurement".
            QVERIFY2(outcome.status == ExchangeOutcome::Status::Ok ||
                         outcome.status == ExchangeOutcome::Status::DeviceError,
                     qPrintable(outcome.detail));
            QCOMPARE(outcome.sender, probeAddress);
            QCOMPARE(rig->log.lines.size(), 4);
            QCOMPARE(rig->port.bytesAvailable(), 0);
        }
        // The line is first-in first-out: the closed port's request would have come first.
        QCOMPARE(rig->simulator.bus().requests().front().code(), uint8_t(Command::UpdateAirCode));
    }
};

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
