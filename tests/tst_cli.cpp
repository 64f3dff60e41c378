#include "Version.h"
#include "cli/StopSignals.h"
#include "console/CommandLine.h"
#include "probesim/ProbeSimulator.h"
#include "protocol/ProbeLine.h"
#include "scan/BusScan.h"
#include "support/AdapterLatency.h"
#include "support/Files.h"
#include "support/SelfRun.h"
#include "workfolder/WorkFolderLock.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>
#include <cmath>
#include <limits>
#include <memory>

using frames::Command;

namespace {

struct Reading
{
    int address;
    float um;
    int quality;
};

// Two probes whose values need every digit a float has, and one at the top of the range.
const Reading probeA{12, 123.456f, 77};
const Reading probeB{255, 7.25f, 5};

// A probe that reads `um` steadily, with its quality.
probesim::ProbeSettings reading(float um, int quality = 100)
{
    probesim::ProbeSettings settings;
    settings.thickness = um;
    settings.quality = uint8_t(quality);
    return settings;
}

class CapturingSink : public RecordSink
{
public:
    bool append(const records::Record &record) override
    {
        records.push_back(record);
        return true;
    }
    std::vector<records::Record> records;
};

// The rows printed, each time stamp, which no test can know, as T. A stamp has the offset the
// records have: "2026-12-06T10:15:30.123+03:00".
QStringList rowsOf(QString text)
{
    static const QRegularExpression time(
        QStringLiteral("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d"));
    return text.replace(time, QStringLiteral("T")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

}  // namespace

// t7r-cli on a real port served by simulated probes: what it accepts, what it prints, how it
// ends, and that it refuses bad arguments before anything reaches the line.
class TestCli : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir workDir;
    std::unique_ptr<probesim::ProbeSimulator> simulator;
    QString out;
    QString err;
    CapturingSink sink;
    bool withSink = false;

    QString port() const { return simulator->portPath(); }

    // The engine's gap spans the process: the previous run's last request must not shorten
    // this run's first.
    int run(const QStringList &arguments,
            const std::function<void(console::CommandLine &)> &during = {})
    {
        QTest::qWait(10);
        out.clear();
        err.clear();
        QTextStream output(&out);
        QTextStream errors(&err);
        console::CommandLine commandLine(output, errors);
        if (withSink)
            commandLine.setRecordSink(&sink);
        if (during)
            during(commandLine);
        return commandLine.run(QStringList{QStringLiteral("t7r-cli")} + arguments);
    }

    // A run on the simulator's line at a short delay.
    int onTheLine(const QStringList &arguments,
                  const std::function<void(console::CommandLine &)> &during = {})
    {
        return run(QStringList{"--port", port(), "--delay", "5"} + arguments, during);
    }

    const std::vector<probesim::ProbeRequest> &requests() { return simulator->bus().requests(); }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QProcess::ExitStatus>();
        QVERIFY(workDir.isValid() && QDir::setCurrent(workDir.path()));
    }

    void init()
    {
        QFile::remove(QStringLiteral("settings.cfg"));
        simulator = std::make_unique<probesim::ProbeSimulator>();
        for (const Reading &probe : {probeA, probeB})
            QVERIFY(simulator->model().addProbe(uint8_t(probe.address),
                                                reading(probe.um, probe.quality)));
        adapter::makeRealistic(*simulator);
        QVERIFY2(simulator->openPseudoTerminal(), qPrintable(simulator->errorString()));
        sink.records.clear();
        withSink = false;
    }

    void cleanup() { simulator.reset(); }

    // One line naming the argument, exit code 2, and not a byte on the line; a port that cannot
    // be opened is said the same way, but with exit code 3.
    void badArguments_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("named");
        // The arguments as typed, P standing for the simulator's port.
        const char *const rows[][3] = {
            {"address over 255", "--port P measure 12 256", "'256'"},
            {"address not a number", "--port P air 1x", "'1x'"},
            {"negative address", "--port P zero -- -1", "'-1'"},
            {"no address", "--port P measure", "measure"},
            {"two addresses for one", "--port P reset 1 2", "reset"},
            {"no port", "measure 12", "--port"},
            {"unknown option", "--port P --fast test", "'fast'"},
            {"unknown command", "--port P fly", "'fly'"},
            {"delay not a number", "--port P --delay 5ms test", "--delay"},
            {"unknown format", "--port P --format xml test", "--format"},
            {"count zero", "--port P --count 0 measure 12", "--count"},
            {"count for air", "--port P --count 2 air 12", "--count"},
            {"measure value not a number", "--port P point 12 thick", "'thick'"},
            {"scan with an address", "--port P scan 12", "'12'"},
            {"records without a records folder", "--port P --records measure 12", "--records"},
            {"no such port", "--port no-such-port measure 12", "open no-such-port: No such file"}};
        for (const auto &row : rows)
            QTest::newRow(row[0]) << QString(row[1]) << QString(row[2]);
    }

    void badArguments()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, named);
        QStringList typed = arguments.split(QLatin1Char(' '));
        typed.replaceInStrings(QRegularExpression(QStringLiteral("^P$")), port());
        const bool portMissing = named.contains(QStringLiteral("No such file"));
        QCOMPARE(run(typed), int(portMissing ? console::exitPortNotOpened : console::exitUsage));
        QVERIFY(out.isEmpty());
        QVERIFY2(err.startsWith(QStringLiteral("t7r-cli: ")) && err.count(QLatin1Char('\n')) == 1 &&
                     err.endsWith(QLatin1Char('\n')) && err.contains(named),
                 qPrintable(err));
        QTest::qWait(20);
        QCOMPARE(int(requests().size()), 0);
    }

    // The values a probe holds, digit for digit, in each format; a probe that answers with an
    // error or not at all gives exit code 1 and says so in its row; values only come with a good
    // answer, and whatever came back the rows stay whole. A result whose start the probe never
    // answered may be the previous measurement's: its row carries no value and nothing is
    // recorded. Nothing is recorded without --records at all.
    void rowsOfEachFormat_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QStringList>("expected");
        QTest::addRow("table")
            << "table"
            << QStringList{
                   "time                          address raw_um        "
                   "calibrated_um quality command outcome",
                   "T      12                                     measure Bad hash",
                   "T     255                                     measure Busy",
                   "T       7           nan           nan     100 measure ok",
                   "T       3                                     measure no response",
                   "T      40       123.456       123.456      77 measure ok"};
        QTest::addRow("csv") << "csv"
                             << QStringList{
                                    "time,address,raw_um,calibrated_um,quality,command,outcome",
                                    "T,12,,,,measure,Bad hash",
                                    "T,255,,,,measure,Busy",
                                    "T,7,nan,nan,100,measure,ok",
                                    "T,3,,,,measure,no response",
                                    "T,40,123.456,123.456,77,measure,ok"};
        const QString json = QStringLiteral(
            "{\"time\":\"T\",\"address\":%1,\"raw_um\":%2,\"calibrated_um\":%2,"
            "\"quality\":%3,\"command\":\"measure\",\"outcome\":\"%4\"}");
        QTest::addRow("json") << "json"
                              << QStringList{json.arg("12", "null", "null", "Bad hash"),
                                             json.arg("255", "null", "null", "Busy"),
                                             json.arg("7", "null", "100", "ok"),
                                             json.arg("3", "null", "null", "no response"),
                                             json.arg("40", "123.456", "77", "ok")};
    }

    void rowsOfEachFormat()
    {
        QFETCH(QString, format);
        QFETCH(QStringList, expected);
        withSink = true;
        simulator->model().probe(uint8_t(probeB.address))->setStatusOverride(4);
        QVERIFY(simulator->model().addProbe(7, reading(std::numeric_limits<float>::quiet_NaN())) &&
                simulator->model().addProbe(3) &&
                simulator->model().addProbe(40, reading(probeA.um, probeA.quality)));
        // 3 takes its start but its answer is lost. Garbage ahead of the first result's answer,
        // every time it is asked: a bad answer is asked again, four times in all, then reported.
        simulator->faults().script(probesim::Fault::None, 3);
        simulator->faults().script(probesim::Fault::NoAnswer);
        simulator->faults().script(probesim::Fault::None);
        simulator->faults().script(probesim::Fault::Garbage, BusScan::maxAttempts);
        const QStringList recording = format == "json" ? QStringList{"--records"} : QStringList();
        QCOMPARE(onTheLine(QStringList{"--format", format} + recording +
                           QStringList{"measure", "12", "255", "7", "3", "40"}),
                 int(console::exitProbeFailed));
        int resultsOf12 = 0;
        for (const probesim::ProbeRequest &request : requests())
            resultsOf12 += request.address() == 12 &&
                           request.code() == uint8_t(frames::Command::GetMeasurementResult);
        QCOMPARE(resultsOf12, BusScan::maxAttempts);
        QCOMPARE(rowsOf(out), expected);
        QVERIFY(err.isEmpty());
        QCOMPARE(int(sink.records.size()), recording.isEmpty() ? 0 : 2);
        // No line of settings.cfg holds their addresses, as there is none.
        for (const records::Record &record : sink.records)
            QVERIFY((record.address == 7 || record.address == 40) && record.channels == 0);
    }

    // The adapter pulled in the middle of a repeated run: exit code 4 at once, the rows so far
    // whole.
    void deviceLost()
    {
        const int code = onTheLine({"--format", "csv", "--every", "0.05", "measure", "12"},
                                   [this](console::CommandLine &commandLine) {
                                       connect(&commandLine, &console::CommandLine::roundFinished,
                                               this, [this](int round) {
                                                   if (round == 2)
                                                       simulator->pullDevice();
                                               });
                                   });
        QCOMPARE(code, int(console::exitDeviceLost));
        QVERIFY2(err.startsWith(QStringLiteral("t7r-cli: device lost")), qPrintable(err));
        QCOMPARE(rowsOf(out).size(), 3);
    }

    // --count N gives N rounds; --every spaces their starts; the delay comes from --delay,
    // else ./settings.cfg, else 190 ms, and a run never writes settings.cfg.
    void rounds_data()
    {
        QTest::addColumn<QString>("options");
        // The delay settings.cfg holds; 0 for no settings.cfg.
        QTest::addColumn<int>("settingsDelayMs");
        QTest::addColumn<int>("rounds");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<int>("everyMs");
        // The delay the run must not have taken instead: the result may come late on a loaded
        // machine, but never as late as that delay's twelve would put it.
        QTest::addColumn<int>("notDelayMs");
        QTest::addRow("three rounds every 0.3 s")
            << "--delay 5 --every 0.3 --count 3" << 0 << 3 << 5 << 300 << 190;
        QTest::addRow("delay from settings.cfg") << "" << 30 << 1 << 30 << 0 << 190;
        QTest::addRow("delay option over settings.cfg") << "--delay 8" << 60 << 1 << 8 << 0 << 60;
        QTest::addRow("no settings.cfg") << "" << 0 << 1 << 190 << 0 << 0;
    }

    void rounds()
    {
        QFETCH(QString, options);
        QFETCH(int, settingsDelayMs);
        QFETCH(int, rounds);
        QFETCH(int, delayMs);
        QFETCH(int, everyMs);
        QFETCH(int, notDelayMs);
        if (settingsDelayMs > 0)
            QVERIFY(files::write(QStringLiteral("settings.cfg"),
                                 files::settings({1, 2, 3, 4, 5, 6, 7, 8}, settingsDelayMs)));
        QCOMPARE(run(QStringList{"--port", port(), "--format", "csv"} +
                     options.split(QLatin1Char(' '), Qt::SkipEmptyParts) +
                     QStringList{"measure", "12", "255"}),
                 int(console::exitOk));
        QCOMPARE(rowsOf(out).size(), 1 + 2 * rounds);
        QCOMPARE(QFile::exists(QStringLiteral("settings.cfg")), settingsDelayMs > 0);
        const auto &line = requests();
        QCOMPARE(int(line.size()), 4 * rounds);
        const auto msBetween = [&line](size_t from, size_t to) {
            return (line[to].timeUs - line[from].timeUs) / 1000.0;
        };
        for (int round = 0; round < rounds; ++round) {
            const size_t first = size_t(4 * round);
            QCOMPARE(line[first].code(), uint8_t(Command::StartMeasurement));
            QCOMPARE(line[first + 2].code(), uint8_t(Command::GetMeasurementResult));
            // A request is stamped when the simulator, on this thread, reads it: a stall of the
            // thread makes one stamp late and shortens the gap that follows it. The bounds only
            // tell the delay taken from no delay below and from the one it must not be above.
            QVERIFY(msBetween(first, first + 1) >= delayMs / 2);
            QVERIFY(msBetween(first, first + 2) >= 12 * delayMs / 2);
            if (notDelayMs > 0)
                QVERIFY(msBetween(first, first + 2) < 12 * notDelayMs - 3);
            if (round > 0 && everyMs > 0)
                QVERIFY(msBetween(first - 4, first) >= everyMs / 2);
        }
    }

    // --limits keys the tolerances by channel, as settings.cfg maps addresses to them, whatever
    // the order on the command line: rows gain the verdict and the limits, a value out of
    // tolerance exits 5 when every probe answered, and a probe that failed still exits 1. A
    // record carries its row's verdict and every channel whose line holds its address.
    void limits_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("rows");

        const QByteArray header =
            "time,address,raw_um,calibrated_um,quality,command,outcome,"
            "verdict,lower_um,upper_um";
        QTest::addRow("one below")
            << QByteArray("[channel2]\nlower=100\nupper=130\n[channel1]\nlower=8\nupper=9\n")
            << QStringList{"12", "255"} << int(console::exitOutOfTolerance)
            << QStringList{header, "T,12,123.456,123.456,77,measure,ok,ok,100,130",
                           "T,255,7.25,7.25,5,measure,ok,below,8,9"};
        QTest::addRow("on the limits, a channel without")
            << QByteArray("[channel1]\nlower=7.25\nupper=7.25\n") << QStringList{"255", "12"}
            << int(console::exitOk)
            << QStringList{header, "T,255,7.25,7.25,5,measure,ok,ok,7.25,7.25",
                           "T,12,123.456,123.456,77,measure,ok,,,"};
        QTest::addRow("a probe silent beats a value out")
            << QByteArray("[channel2]\nlower=1\nupper=2\n") << QStringList{"12", "3"}
            << int(console::exitProbeFailed)
            << QStringList{header, "T,12,123.456,123.456,77,measure,ok,above,1,2",
                           "T,3,,,,measure,no response,,,"};
        QTest::addRow("malformed") << QByteArray("[channel1]\nlower=2\nupper=1\n")
                                   << QStringList{"12"} << int(console::exitUsage) << QStringList{};
    }

    void limits()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, addresses);
        QFETCH(int, exitCode);
        QFETCH(QStringList, rows);
        QVERIFY(files::write(QStringLiteral("limits-test.ini"), file));
        QVERIFY(files::write(QStringLiteral("settings.cfg"),
                             files::settings({255, 12, 30, 12, 32, 33, 34, 35}, 5)));
        withSink = true;
        QCOMPARE(onTheLine(QStringList{"--format", "csv", "--records", "--limits",
                                       "limits-test.ini", "measure"} +
                           addresses),
                 exitCode);
        QCOMPARE(rowsOf(out), rows);
        if (exitCode == console::exitUsage) {
            QCOMPARE(err, QStringLiteral("t7r-cli: --limits: limits-test.ini:1: [channel1] has "
                                         "lower above upper\n"));
            QCOMPARE(int(requests().size()), 0);
        } else {
            QStringList verdicts, recorded;
            for (const QString &row : rows.filter(QStringLiteral(",measure,ok,")))
                verdicts << row.section(QLatin1Char(','), 7, 7);
            for (const records::Record &record : sink.records) {
                recorded << QLatin1String(records::verdictName(record.verdict));
                const QVector<int> channels =
                    record.address == probeA.address ? QVector<int>{2, 4} : QVector<int>{1};
                QCOMPARE(record.channels, records::channelMask(channels));
            }
            QCOMPARE(recorded, verdicts);
        }
    }

    // zero, point and reset are journalled with the probe's answer, records asked for or not.
    void calibrationJournal()
    {
        QFile::remove(QStringLiteral("records/calibration.csv"));
        QCOMPARE(onTheLine({"zero", "12"}), int(console::exitOk));
        QCOMPARE(onTheLine({"reset", "3"}), int(console::exitProbeFailed));
        QCOMPARE(onTheLine({"point", "255", "7.5"}), int(console::exitOk));
        const auto events = quality::readJournalFile(QStringLiteral("records/calibration.csv"), 0,
                                                     std::numeric_limits<qint64>::max());
        QCOMPARE(events.size(), size_t(3));
        QCOMPARE(events[0].answer, QStringLiteral("ok"));
        QCOMPARE(int(events[0].command), int(quality::CalibrationCommand::Zero));
        QCOMPARE(events[1].answer, QStringLiteral("no response"));
        QCOMPARE(events[1].address, uint8_t(3));
        QCOMPARE(events[2].measureUm, std::optional<float>(7.5f));
        QCOMPARE(events[2].channel, 0);
    }

    // The program itself: SIGINT and SIGTERM between the rounds of a repeated run end it with
    // the code its rounds earned; within a round they end it with 128 + the signal, the rows of
    // the commands that never went out saying "stopped". Every row whole, every request answered.
    void stopSignal_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("betweenRounds");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("outcomes");
        const QStringList good{"12", "255"};
        for (const int signal : {SIGINT, SIGTERM}) {
            const char *name = signal == SIGINT ? "SIGINT" : "SIGTERM";
            QTest::addRow("%s between rounds", name)
                << signal << true << good << 0 << QStringList{"ok", "ok"};
            QTest::addRow("%s between rounds with a silent probe", name)
                << signal << true << QStringList{"12", "3"} << int(console::exitProbeFailed)
                << QStringList{"ok", "no response"};
            QTest::addRow("%s within a round", name)
                << signal << false << good << 128 + signal << QStringList{"stopped", "stopped"};
        }
    }

    void stopSignal()
    {
        QFETCH(int, signal);
        QFETCH(bool, betweenRounds);
        QFETCH(QStringList, addresses);
        QFETCH(int, exitCode);
        QFETCH(QStringList, outcomes);
        QProcess cli;
        QSignalSpy finished(&cli, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        // Between rounds: a round of some 70 ms, then a second of waiting. Within: the results
        // are due 1.2 s after the starts.
        const QStringList pace = betweenRounds ? QStringList{"--delay", "5", "--every", "1"}
                                               : QStringList{"--delay", "100"};
        cli.start(QStringLiteral(CLI_PATH), QStringList{"--port", port(), "--format", "json"} +
                                                pace + QStringList{"measure"} + addresses);
        QVERIFY(cli.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(
            betweenRounds ? cli.peek(4096).count('\n') == 2 : requests().size() >= 2, 5000);
        ::kill(pid_t(cli.processId()), signal);
        QVERIFY(finished.wait(2000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), exitCode);
        const QList<QByteArray> rows = cli.readAllStandardOutput().split('\n');
        QCOMPARE(rows.size(), outcomes.size() + 1);
        QVERIFY(rows.last().isEmpty());
        // A probe asked again after a slow answer has its row after the others'.
        QMap<int, QString> outcomeOf;
        for (int i = 0; i < outcomes.size(); ++i) {
            const QJsonObject row = QJsonDocument::fromJson(rows[i]).object();
            outcomeOf.insert(row.value("address").toInt(), row.value("outcome").toString());
        }
        for (int i = 0; i < outcomes.size(); ++i)
            QCOMPARE(outcomeOf.value(addresses[i].toInt()), outcomes[i]);
        const auto answerable = [this] {
            return int(std::count_if(requests().begin(), requests().end(),
                                     [](const auto &r) { return r.address() != 3; }));
        };
        QTRY_COMPARE(simulator->bus().answersWritten(), answerable());
    }

    // An answer past the answer limit names its sender, in its own exchange or in the next: the
    // sender is asked again and its row holds its own value; the other probe keeps its own, and
    // a result waits its measuring time after the start that was asked again.
    void lateAnswerAskedAgain_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("delay");
        QTest::addColumn<int>("asked");
        QTest::addColumn<QStringList>("rows");
        // The next request goes before the late answer comes.
        QTest::addRow("start, in the next exchange")
            << "measure" << 30 << int(Command::StartMeasurement)
            << QStringList{"T,12,123.456,123.456,77,measure,ok", "T,255,7.25,7.25,5,measure,ok"};
        // The late answer comes while its own exchange is still the last.
        QTest::addRow("air, in its own exchange")
            << "air" << 100 << int(Command::UpdateAirCode)
            << QStringList{"T,12,,,,air,ok", "T,255,,,,air,ok"};
    }

    void lateAnswerAskedAgain()
    {
        QFETCH(QString, command);
        QFETCH(int, delay);
        QFETCH(int, asked);
        QFETCH(QStringList, rows);
        probesim::InjectedFault late(probesim::Fault::Late);
        late.delayMs = probeline::answerTimeLimitMs + 20;
        simulator->faults().script(late);
        QCOMPARE(run({"--port", port(), "--delay", QString::number(delay), "--format", "csv",
                      command, "12", "255"}),
                 int(console::exitOk));
        QCOMPARE(rowsOf(out).mid(1), rows);
        // A slow machine may ask more than once again, never less; the result waits its
        // measuring time after the last start before it.
        std::optional<qint64> startUs;
        int askedOfTheLate = 0;
        for (const probesim::ProbeRequest &request : requests()) {
            if (request.address() != probeA.address)
                continue;
            if (request.code() == asked) {
                ++askedOfTheLate;
                startUs = request.timeUs;
            } else if (request.code() == uint8_t(Command::GetMeasurementResult)) {
                QVERIFY(startUs && (request.timeUs - *startUs) / 1000.0 >= 12 * delay - 3);
                break;
            }
        }
        QVERIFY(askedOfTheLate >= 2);
    }

    // The program itself, under the lock whatever spelling of --records the parser accepts,
    // appends to the working folder's records as the window would, each value and time spelt
    // as its row spells it; a records folder that cannot be written is a failed run.
    void recordsOfTheProgram()
    {
        QDir(QStringLiteral("records")).removeRecursively();
        QVERIFY(simulator->model().addProbe(40, reading(0.0001f)));
        QProcess cli;
        // The probes are served by this process's event loop, which must run meanwhile.
        QSignalSpy finished(&cli, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        QStringList arguments{"--port", port(),     "--delay", "5",  "--format",
                              "csv",    "-records", "measure", "12", "40"};
        {
            WorkFolderLock window;
            QVERIFY(window.tryLock());
            cli.start(QStringLiteral(CLI_PATH), arguments);
            QVERIFY(finished.wait(5000));
            QCOMPARE(cli.exitCode(), int(console::exitUsage));
            QVERIFY(cli.readAllStandardError().contains("another copy"));
            QVERIFY(requests().empty());
        }
        arguments[6] = QStringLiteral("--records");
        cli.start(QStringLiteral(CLI_PATH), arguments);
        QVERIFY(finished.wait(5000));
        const QList<QByteArray> rows = cli.readAllStandardOutput().trimmed().split('\n');
        QVERIFY2(cli.exitCode() == console::exitOk, cli.readAllStandardError());
        QFile day(QStringLiteral("records/") + QDate::currentDate().toString(Qt::ISODate) +
                  QStringLiteral(".csv"));
        QVERIFY(day.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = day.readAll().trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[1].trimmed().split(',').mid(1),
                 (QList<QByteArray>{"", "12", "123.456", "123.456", "77", "", "", ""}));
        QCOMPARE(rows.size(), 3);
        for (int i = 1; i < 3; ++i) {
            const QList<QByteArray> line = lines[i].trimmed().split(',');
            QCOMPARE(rows[i].split(',').mid(0, 5), line.mid(0, 1) + line.mid(2, 4));
        }

        QDir(QStringLiteral("records")).removeRecursively();
        QVERIFY(files::write(QStringLiteral("records"), "in the way"));
        QTest::qWait(10);
        cli.start(QStringLiteral(CLI_PATH), arguments);
        QVERIFY(finished.wait(5000));
        const QByteArray errors = cli.readAllStandardError();
        QFile::remove(QStringLiteral("records"));
        QCOMPARE(cli.exitCode(), int(console::exitProbeFailed));
        QVERIFY2(errors.contains("Records not kept"), errors);
        QVERIFY(cli.readAllStandardOutput().contains("ok"));
    }

    // A scan that finds nobody is a failed run: no row, exit code 1.
    void scanFindsNobody()
    {
        for (const Reading &probe : {probeA, probeB})
            simulator->model().removeProbe(uint8_t(probe.address));
        QCOMPARE(run({"--port", port(), "--format", "csv", "scan"}), int(console::exitProbeFailed));
        QVERIFY(rowsOf(out).isEmpty());
        QCOMPARE(int(requests().size()), 256);
    }

    // A second SIGINT ends the program at once, whatever the first is still waiting for.
    void secondSignalEndsAtOnce()
    {
        int code = 0;
        runSelf({QStringLiteral("--stop-signals-child")}, 10000, code);
        QCOMPARE(code, 130);
    }

    // Runs that never open a port: the version, the help, and the ports, before which a
    // settings.cfg the run cannot use is said on stderr, with its line, unless --delay made it
    // beside the point; the run goes on.
    void offTheLine()
    {
        QCOMPARE(run({"--version"}), 0);
        QCOMPARE(out, QStringLiteral("t7r-cli " T7R_VERSION "\n"));
        QCOMPARE(run({"--help"}), 0);
        for (const char *part :
             {"Usage: t7r-cli", "Exit status:", "--port", "measure ADDR", "4  the device was lost",
              "(460800 baud)", "else 190)", "costs 40 ms"})
            QVERIFY2(out.contains(QLatin1String(part)), part);
        QVERIFY(err.isEmpty());
        QVERIFY(files::write(QStringLiteral("settings.cfg"),
                             files::settings(std::vector<int>{12, 13}, 30)));
        QCOMPARE(run({"ports"}), int(console::exitOk));
        QCOMPARE(err, QStringLiteral("t7r-cli: settings.cfg line 4 \"Delay=30\" does not match "
                                     "Probe3=<address>: the defaults are in use (Delay: 190)\n"));
        QCOMPARE(run({"--delay", "5", "ports"}), int(console::exitOk));
        QCOMPARE(err, QString());
    }
};

// The child of secondSignalEndsAtOnce: a stop that never finishes, then a second SIGINT.
int main(int argc, char *argv[])
{
    if (argc == 2 && qstrcmp(argv[1], "--stop-signals-child") == 0) {
        QCoreApplication application(argc, argv);
        int stops = 0;
        StopSignals stopSignals([&stops](int) { ++stops; });
        ::raise(SIGINT);
        QTest::qWaitFor([&stops] { return stops > 0; }, 5000);
        ::raise(SIGINT);
        QCoreApplication::processEvents();
        return stops;
    }
    QCoreApplication application(argc, argv);
    TestCli test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_cli.moc"
