#include "app/OrvaUI.h"
#include "probesim/Answers.h"
#include "probesim/ProbeBus.h"
#include "probesim/ProbeModel.h"
#include "probesim/PseudoTerminal.h"
#include "protocol/Schedule.h"
#include "records/Record.h"
#include "serial/PortList.h"
#include "serial/PortWatch.h"
#include "support/AdapterLatency.h"
#include "support/Files.h"
#include "support/Trace.h"
#include "ui/HistoryTab.h"
#include "ui/ProbePanels.h"
#include "ui/SecondsDialog.h"

#include <QLabel>
#include <QTableView>
#include <QTableWidget>

#include <QDateEdit>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>

using frames::Command;
using trace::request;

namespace {

const std::vector<int> busAddresses{12, 13, 14, 15, 16, 17, 18, 19};
const QStringList busFields{"12", "13", "14", "15", "16", "17", "18", "19"};
constexpr int delayMs = 40;
constexpr int quickAnswerLimitMs = 20;
// Rounds half as long, for the tests that run many of them on a noisy line.
constexpr int shortDelayMs = 20;
// What the probes read, as the panels and the log show it.
const QStringList shown{"100.0", "110.5", "121.0", "131.5", "142.0", "152.5", "163.0", "173.5"};
const QStringList logged{"100", "110.5", "121", "131.5", "142", "152.5", "163", "173.5"};

struct Frame
{
    Command command;
    int address;
    int atMs;
};
using Frames = std::vector<Frame>;

// One command to each probe position, `stepMs` apart from `firstMs` on; -1 skips a position.
Frames series(Command command, const std::vector<int> &addresses, int firstMs, double stepMs)
{
    Frames frames;
    for (size_t i = 0; i < addresses.size(); ++i) {
        if (addresses[i] >= 0)
            frames.push_back({command, addresses[i], firstMs + int(stepMs * double(i))});
    }
    return frames;
}

// Probes on a pseudo-terminal, built afresh for every test so that no calibration or fault
// carries over.
struct Bench
{
    Bench()
    {
        for (int i = 0; i < probeCount; ++i) {
            probesim::ProbeSettings settings;
            settings.thickness = 100.0f + 10.5f * float(i);
            settings.quality = uint8_t(90 + i);
            model.addProbe(uint8_t(busAddresses[size_t(i)]), settings);
        }
        bus.setLatency(adapter::latencyMs, adapter::jitterMs);
    }

    probesim::ProbeModel model;
    probesim::FaultPlan faults;
    probesim::PseudoTerminal line;
    probesim::ProbeBus bus{&model, &faults};
};

// The log of one measurement over all probes, in the order of the line.
QStringList measurementLog()
{
    QVector<trace::Reading> readings;
    for (int i = 0; i < probeCount; ++i)
        readings.append({busAddresses[size_t(i)], 100.0f + 10.5f * float(i), 90 + i, logged[i]});
    return trace::measurement(readings);
}

ProbePanel panel(OrvaUI &window, int probe)
{
    return probePanels(window.ui)[probe - 1];
}

QStringList panelValues(const OrvaUI &window)
{
    QStringList values;
    for (const ProbePanel &panel : probePanels(window.ui))
        values << panel.value->text();
    return values;
}

// Types the text into probe N's address field and finishes the edit with Return, as an
// operator does.
void typeAddress(OrvaUI &window, int probe, const QString &text)
{
    QLineEdit *field = panel(window, probe).address;
    field->clear();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

// A stray byte on the line every millisecond, from outside the tool's thread, as a noisy pair
// or a chattering device puts them there.
class LineNoise
{
public:
    explicit LineNoise(int fd)
        : writer([this, fd]() {
              const char stray = '\x55';
              while (!stop) {
                  [[maybe_unused]] const ssize_t written = ::write(fd, &stray, 1);
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          })
    {
    }
    ~LineNoise() { end(); }

    void end()
    {
        stop = true;
        if (writer.joinable())
            writer.join();
    }

private:
    std::atomic<bool> stop{false};
    std::thread writer;
};

// The longest the event loop went without a turn while this lives.
class LoopStall
{
public:
    explicit LoopStall(int tickMs = 5)
    {
        ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker, &QTimer::timeout, &ticker,
                         [this]() { longest = std::max(longest, sinceTick.restart()); });
        sinceTick.start();
        ticker.start(tickMs);
    }

    qint64 longestMs() const { return std::max(longest, sinceTick.elapsed()); }

private:
    QTimer ticker;
    QElapsedTimer sinceTick;
    qint64 longest = 0;
};

// One run of an all-probe operation, as the test keeps it.
struct Round
{
    int logFrom = 0;
    size_t requestsFrom = 0;
    QStringList summaries;
    int attempts = 0;
};

// A year of working days before today: eight probes, one result a minute for eight hours. One
// day is formatted; the others are its copies under their own date.
int writeYearOfRecords(QDate &first)
{
    const QString folder = QStringLiteral("records");
    QDir().mkpath(folder);
    const QDate model(2026, 1, 5);
    QByteArray body;
    for (int minute = 0; minute < 480; ++minute) {
        for (int probe = 1; probe <= probeCount; ++probe) {
            const float value = 100.0f + float(probe) + float(minute % 7) / 10.0f;
            body += records::formatLine(
                records::makeRecord(QDateTime(model, QTime(8, 0)).addSecs(minute * 60 + probe),
                                    {probe}, uint8_t(11 + probe), value, value, 90));
        }
    }
    const QByteArray modelDate = model.toString(Qt::ISODate).toLatin1();
    int days = 0;
    for (QDate day = QDate::currentDate().addDays(-1); days < 250; day = day.addDays(-1)) {
        if (day.dayOfWeek() > 5)
            continue;
        ++days;
        first = day;
        QByteArray text = body;
        text.replace(modelDate, day.toString(Qt::ISODate).toLatin1());
        if (!files::write(folder + QLatin1Char('/') + records::fileName(day),
                          records::header() + text))
            return -1;
    }
    return days * 480 * probeCount;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

Q_DECLARE_METATYPE(Frames)

// The window on a pseudo-terminal with simulated probes behind it: what the operator sees, what
// the fields accept, what goes on the line and when, what the operator and the log see of the
// answers, and a line that misbehaves.
class TestWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir workDir;
    QElapsedTimer sinceLastTest;
    std::unique_ptr<Bench> bench;

    const std::vector<probesim::ProbeRequest> &received() { return bench->bus.requests(); }

    void choosePort(OrvaUI &window, const QString &path)
    {
        window.ui.cb_ports->addItem(path);
        window.ui.cb_ports->setCurrentText(path);
        QTest::mouseClick(window.ui.pb_connect, Qt::LeftButton);
    }

    void connectWithAddresses(OrvaUI &window, const QStringList &fields = busFields)
    {
        choosePort(window, bench->line.slavePath());
        for (int probe = 1; probe <= probeCount; ++probe)
            typeAddress(window, probe, fields[probe - 1]);
    }

    // The scan from the menu, with its progress dialog, to its end. The probes answer within a
    // millisecond; the full answer time limit would only make the scan longer. The spy's wait
    // runs the event loop itself, so no answer is held up by the test.
    bool scanWholeLine(OrvaUI &window)
    {
        window.lineCommands().setAnswerTimeLimit(quickAnswerLimitMs);
        QSignalSpy finished(&window.probeSearch(), &ProbeSearch::finished);
        window.findChild<QAction *>(QStringLiteral("action_find_probes"))->trigger();
        const auto *progress =
            window.findChild<QProgressDialog *>(QStringLiteral("probeSearchProgress"));
        return progress && progress->isVisible() && finished.wait(30000) &&
               finished.first().first().toBool();
    }

    // Starts an operation and waits for its summary in the status bar. A machine that holds the
    // loop up for half a delay or more can make the engine refuse a request for the line's gap,
    // as it must, or let a request's buffer clear drop the one before it unread by the probes.
    // Such a round tells nothing of the tool, so it runs again, three times at most; the last is
    // kept whatever happened, so a tool that stalls its own loop fails every time.
    Round settledRound(OrvaUI &window, const QString &operation, const std::function<void()> &start,
                       int delay = delayMs)
    {
        Round round;
        for (;;) {
            // An operator cannot click within the line's gap after the last request; after an
            // attempt run again, its late answers must not reach the next one either.
            const qint64 quietUs = round.attempts ? 300000 : 10000;
            [[maybe_unused]] const bool quiet = QTest::qWaitFor(
                [this, quietUs]() {
                    return received().empty() ||
                           probesim::steadyMicroseconds() - received().back().timeUs > quietUs;
                },
                1000);
            ++round.attempts;
            round.logFrom = files::logMessages().size();
            round.requestsFrom = received().size();
            // The status bar tells nobody when it is asked to show the text it already shows,
            // as a round run again may summarise.
            window.statusBar()->clearMessage();
            QSignalSpy messages(window.statusBar(), &QStatusBar::messageChanged);
            const auto summarised = [&]() {
                round.summaries.clear();
                for (const QList<QVariant> &change : messages) {
                    const QString text = change.at(0).toString();
                    if (text.startsWith(operation + QLatin1Char(':')))
                        round.summaries << text;
                }
                return !round.summaries.isEmpty();
            };
            // A spy's wait runs the event loop itself; QTest's polling waits sleep 10 ms a turn.
            const LoopStall stall;
            start();
            const QDeadlineTimer deadline(10000);
            while (!summarised() && !deadline.hasExpired())
                messages.wait(int(deadline.remainingTime()));
            if (stall.longestMs() < delay / 2 || round.attempts == 3)
                return round;
            qInfo("%s: run again, the loop stood still for %lld ms", qPrintable(operation),
                  stall.longestMs());
        }
    }

    Round settledRound(OrvaUI &window, QPushButton *button, int delay = delayMs)
    {
        return settledRound(
            window, button->text(), [button]() { QTest::mouseClick(button, Qt::LeftButton); },
            delay);
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<uint8_t>("uint8_t");
        QVERIFY(workDir.isValid() && QDir::setCurrent(workDir.path()));
        sinceLastTest.start();
    }

    void init()
    {
        // The line keeps one minimum gap for the whole process: the previous test's last
        // request must not shorten this test's first.
        QTRY_VERIFY_WITH_TIMEOUT(sinceLastTest.elapsed() > 10, 100);
        QVERIFY(
            files::write(QStringLiteral("settings.cfg"), files::settings(busAddresses, delayMs)));
        bench = std::make_unique<Bench>();
        QVERIFY2(bench->line.open(), qPrintable(bench->line.errorString()));
        bench->bus.attach(bench->line.masterFd());
    }

    void cleanup()
    {
        bench.reset();
        sinceLastTest.restart();
    }

    void startState()
    {
        OrvaUI window;
        QCOMPARE(window.windowTitle(), QStringLiteral("T7R Demo v1.1.1"));
        QCOMPARE(QLocale().name(), QStringLiteral("ru_RU"));
        QCOMPARE(window.ui.tabWidget->tabText(0), QStringLiteral("Измерения"));
        QVERIFY(window.ui.mainToolBar->actions().isEmpty());
        const QMenu *devices = window.findChild<QMenu *>(QStringLiteral("menu_devices"));
        QVERIFY(devices && window.menuBar()->actions().contains(devices->menuAction()));
        QCOMPARE(devices->title(), QStringLiteral("Приборы"));
        QCOMPARE(devices->actions().value(0)->text(), QStringLiteral("Найти приборы на линии"));
        QVERIFY(!window.continuousMeasurement().isRunning());
        QCOMPARE(window.ui.label_2->pixmap(Qt::ReturnByValue).size(), QSize(105, 284));
        QVERIFY(!window.ui.pb_line_meas_update_air->isEnabled());
        QVERIFY(!window.ui.pb_line_meas_get->isEnabled());
        QVERIFY(window.ui.cb_ports->isEnabled() && window.ui.pb_connect->isEnabled());
        QVERIFY(window.ui.le_line_meas_setpoint->isEnabled());
        QVERIFY(!window.ui.le_line_meas_setpoint->isReadOnly());
        QVERIFY(files::write(QStringLiteral("settings.cfg"), QByteArray()));
        OrvaUI unset;
        for (const ProbePanel &panel : probePanels(unset.ui)) {
            QVERIFY(panel.address->isEnabled() && !panel.address->isReadOnly());
            QVERIFY(panel.address->text().isEmpty() && panel.value->isReadOnly());
            for (QWidget *control : panel.controls())
                QVERIFY2(!control->isEnabled(), qPrintable(control->objectName()));
        }
        QVERIFY(window.portPoll().isActive());
    }

    // Invoking a method by index reaches the slot of that place: the window adds no signal,
    // property or method of its own to the table.
    void slotTable()
    {
        const QMetaObject &meta = OrvaUI::staticMetaObject;
        QCOMPARE(meta.className(), "OrvaUI");
        QCOMPARE(meta.propertyCount() - meta.propertyOffset(), 0);
        QStringList table;
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
            QCOMPARE(meta.method(i).methodType(), QMetaMethod::Slot);
            table << QString::fromLatin1(meta.method(i).methodSignature());
        }
        QCOMPARE(table, (QStringList{"closeEvent(QCloseEvent*)", "checkConnection_Slot()",
                                     "serialConnect_Slot()", "test_Slot()", "updateAirCode_Slot()",
                                     "checkAirCode_Slot()", "startLineMeas_Slot()",
                                     "getLineMeasResult_Slot()", "resetCalibration_Slot(uint8_t)",
                                     "setZeroPoint_Slot(uint8_t)", "setMeasurePoint_Slot(uint8_t)",
                                     "newMeasurement_Slot(uint8_t,float,float,uint8_t)"}));
    }

    void delayLine_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("firstLines");
        QTest::newRow("from the file") << QByteArray() << QStringList{"0 Delay: 40"};
        QTest::newRow("no usable record")
            << QByteArray("Delay=20")
            << QStringList{"0 Delay: 190",
                           "0 settings.cfg line 1 \"Delay=20\" does not match Port=<name of 1 to "
                           "6 characters>: the defaults are in use (Delay: 190)"};
    }

    void delayLine()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, firstLines);
        if (!settings.isEmpty())
            QVERIFY(files::write(QStringLiteral("settings.cfg"), settings));
        const OrvaUI window;
        QCOMPARE(files::logMessages(), firstLines);
    }

    void addressRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("12") << "12" << true;
        QTest::newRow("0 is a device") << "0" << true;
        QTest::newRow("255") << "255" << true;
        QTest::newRow("256 names no device") << "256" << false;
        QTest::newRow("beyond 32 bits") << "4294967340" << false;
        QTest::newRow("negative") << "-1" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("letters") << "12a" << false;
        QTest::newRow("fraction") << "1.0" << false;
    }

    // The rule decides whether a panel is usable once its edit is finished, and whether a
    // click sends, judging the field as it stands at the click.
    void addressRule()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        OrvaUI window;
        window.ui.le_line_meas_setpoint->setText(QStringLiteral("12.5"));
        for (int probe = 1; probe <= probeCount; ++probe) {
            const ProbePanel controls = panel(window, probe);
            typeAddress(window, probe, QStringLiteral("7"));
            controls.address->setText(text);
            window.statusBar()->clearMessage();
            QTest::mouseClick(
                std::array{controls.zero, controls.measure, controls.reset}[probe % 3],
                Qt::LeftButton);
            QCOMPARE(
                window.statusBar()->currentMessage(),
                valid ? QString() : QStringLiteral("Не корректный адрес, канал %1").arg(probe));
            QTest::keyClick(controls.address, Qt::Key_Return);
            for (QWidget *control : controls.controls())
                QCOMPARE(control->isEnabled(), valid);
        }
    }

    void schedule_data()
    {
        QTest::addColumn<int>("delay");
        QTest::addColumn<int>("position");
        QTest::addColumn<QList<int>>("intervals");
        QTest::newRow("half milliseconds truncate") << 1 << 7 << QList<int>{7, 10, 22};
        QTest::newRow("huge delay clamps") << INT_MAX << 7 << QList<int>{INT_MAX, INT_MAX, INT_MAX};
        QTest::newRow("negative delay is unsigned")
            << -5 << 1 << QList<int>{INT_MAX, INT_MAX, INT_MAX};
        QTest::newRow("just below the limit") << 178956970 << 0 << QList<int>{0, 0, 2147483640};
        QTest::newRow("just above the limit") << 178956971 << 0 << QList<int>{0, 0, INT_MAX};
    }

    // Command, measurement start and result request of one probe position.
    void schedule()
    {
        QFETCH(int, delay);
        QFETCH(int, position);
        QFETCH(QList<int>, intervals);
        QCOMPARE(QList<int>({schedule::commandInterval(delay, position),
                             schedule::measurementStartInterval(delay, position),
                             schedule::measurementResultInterval(delay, position)}),
                 intervals);
    }

    void portListRule_data()
    {
        QTest::addColumn<QStringList>("known");
        QTest::addColumn<QStringList>("current");
        QTest::addColumn<bool>("changed");
        QTest::newRow("same") << QStringList{"COM1", "COM3"} << QStringList{"COM1", "COM3"}
                              << false;
        QTest::newRow("plugged in") << QStringList() << QStringList{"COM3"} << true;
        QTest::newRow("pulled") << QStringList{"COM1", "COM3"} << QStringList{"COM1"} << true;
        QTest::newRow("replaced") << QStringList{"COM1", "COM3"} << QStringList{"COM1", "COM4"}
                                  << true;
        QTest::newRow("COM1 where COM10 was")
            << QStringList{"COM10"} << QStringList{"COM1"} << true;
        QTest::newRow("COM10 where COM1 was")
            << QStringList{"COM1"} << QStringList{"COM10"} << true;
    }

    void portListRule()
    {
        QFETCH(QStringList, known);
        QFETCH(QStringList, current);
        QFETCH(bool, changed);
        QCOMPARE(portListChanged(known, current), changed);
    }

    void resultDisplay_data()
    {
        QTest::addColumn<int>("addr");
        QTest::addColumn<float>("um");
        QTest::addColumn<float>("umCalib");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("worked example, two panels")
            << 5 << 123.456f << 120.04f
            << QStringList{"-", "120.0", "-", "-", "-", "120.0", "-", "-"}
            << "1 Raw: 123.456 Calibrated: 120.04 Quality: 7";
        QTest::newRow("300 is not 44")
            << 44 << 1.0f << 1.0f << QStringList{"-", "-", "-", "-", "-", "-", "-", "-"}
            << "1 Raw: 1 Calibrated: 1 Quality: 7";
        QTest::newRow("no grouping, no comma")
            << 7 << 0.0000125f << 1234567.0f
            << QStringList{"-", "-", "-", "-", "1234567.0", "-", "-", "-"}
            << "1 Raw: 1.25e-05 Calibrated: 1.23457e+06 Quality: 7";
    }

    // Results are shown under the Russian default locale, yet with a decimal point.
    void resultDisplay()
    {
        QFETCH(int, addr);
        QFETCH(float, um);
        QFETCH(float, umCalib);
        QFETCH(QStringList, shown);
        QFETCH(QString, logLine);
        OrvaUI window;
        const QStringList fields{"1", "5", "abc", "", "7", "5", "300", "0"};
        for (int probe = 1; probe <= probeCount; ++probe) {
            panel(window, probe).address->setText(fields[probe - 1]);
            panel(window, probe).value->setText(QStringLiteral("-"));
        }
        window.newMeasurement_Slot(uint8_t(addr), um, umCalib, 7);
        QCOMPARE(panelValues(window), shown);
        QCOMPARE(files::logMessages().last(), logLine);
        QVERIFY(window.statusBar()->currentMessage().isEmpty());
    }

    // A new measurement must not leave the previous value beside it; a skipped probe keeps its
    // value and the message names the last invalid field.
    void measurementClearsValues()
    {
        OrvaUI window;
        const QStringList fields{"1", "2", "x", "4", "5", "", "7", "8"};
        for (int probe = 1; probe <= probeCount; ++probe) {
            panel(window, probe).address->setText(fields[probe - 1]);
            panel(window, probe).value->setText(QStringLiteral("9.9"));
        }
        window.getLineMeasResult_Slot();
        QCOMPARE(panelValues(window), (QStringList{"", "", "9.9", "", "", "9.9", "", ""}));
        QCOMPARE(window.statusBar()->currentMessage(),
                 QStringLiteral("Не корректный адрес, канал 6"));
    }
    // Searching, Connected (twice: the port is reopened), a failed attempt after that; closing
    // the window closes the port.
    void connectStates()
    {
        OrvaUI window;
        const auto workflowEnabled = [&window]() {
            return window.ui.pb_line_meas_update_air->isEnabled() &&
                   window.ui.pb_line_meas_get->isEnabled();
        };
        for (int attempt = 0; attempt <= 3; ++attempt) {
            const bool opens = attempt == 1 || attempt == 2;
            choosePort(window, opens ? bench->line.slavePath() : "/nonexistent/ttyT7R");
            QCOMPARE(window.statusBar()->currentMessage(),
                     opens ? "Устройство подключено" : "Устройство не подключено");
            const QStringList log = files::logMessages();
            if (opens)
                QCOMPARE(log.last(), "0 Device Connected");
            else
                QVERIFY(log.mid(log.size() - 2)
                            .join('|')
                            .startsWith("0 Device not connected|0 Reason: not found"));
            QCOMPARE(window.port().isOpen(), opens);
            // The list is watched whenever no port is open, after a failed reconnect too; the
            // first connection unlocks the workflow for good.
            QCOMPARE(window.portPoll().isActive(), !opens);
            QCOMPARE(workflowEnabled(), attempt > 0);
        }
        QCOMPARE(files::logMessages().count("0 Device Connected"), 2);
        choosePort(window, bench->line.slavePath());

        // What the line really runs at: the terminal's own settings, read through the master.
        termios line{};
        QCOMPARE(::tcgetattr(bench->line.masterFd(), &line), 0);
        QCOMPARE(::cfgetispeed(&line), speed_t(B460800));
        QCOMPARE(::cfgetospeed(&line), speed_t(B460800));
        QCOMPARE(line.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
        QCOMPARE(line.c_iflag & (IXON | IXOFF | INPCK), tcflag_t(0));
        QVERIFY(window.close());
        QVERIFY(!window.port().isOpen());
    }

    // Each panel's buttons send their frames to the address in its own field, whatever the
    // other panels hold.
    void panelButtons()
    {
        OrvaUI window;
        connectWithAddresses(window);
        window.ui.le_line_meas_setpoint->setText(QStringLiteral("12.5"));
        typeAddress(window, 3, QStringLiteral("0"));
        typeAddress(window, 8, QStringLiteral("12"));
        std::vector<QByteArray> expected;
        QElapsedTimer sinceClick;
        sinceClick.start();
        for (int probe = 1; probe <= probeCount; ++probe) {
            const ProbePanel controls = panel(window, probe);
            for (QPushButton *button : {controls.zero, controls.measure, controls.reset}) {
                // One request per gap of the line.
                QVERIFY(QTest::qWaitFor([&]() { return sinceClick.hasExpired(6); }, 1000));
                QTest::mouseClick(button, Qt::LeftButton);
                sinceClick.start();
            }
            const int address = probe == 3 ? 0 : probe == 8 ? 12 : busAddresses[probe - 1];
            expected.insert(expected.end(), {request(Command::SetZeroPoint, address),
                                             request(Command::SetMeasurePoint, address, 12.5f),
                                             request(Command::ResetCalibration, address)});
        }
        QTRY_COMPARE_WITH_TIMEOUT(received().size(), expected.size(), 2000);
        for (size_t i = 0; i < expected.size(); ++i)
            QCOMPARE(received()[i].bytes, expected[i]);
        QVERIFY(files::logMessages().filter(QStringLiteral("Packet not sended")).isEmpty());
    }

    // Refused input puts nothing on the line: the first frame is the later valid click's.
    void refusedInputSendsNothing()
    {
        OrvaUI window;
        connectWithAddresses(window);
        window.ui.le_addr_2->setText(QStringLiteral("300"));
        QTest::mouseClick(window.ui.pb_line_meas_zero_2, Qt::LeftButton);
        QTest::mouseClick(window.ui.pb_line_meas_reset_2, Qt::LeftButton);
        window.ui.le_addr_2->setText(QStringLiteral("13"));
        for (const char *measure : {"nan", "-inf", "1e39", "12,5", ""}) {
            window.ui.le_line_meas_setpoint->setText(QString::fromLatin1(measure));
            QTest::mouseClick(window.ui.pb_line_meas_setpoint_2, Qt::LeftButton);
            QCOMPARE(window.statusBar()->currentMessage(),
                     QStringLiteral("Не корректное значение меры"));
        }
        QTest::mouseClick(window.ui.pb_line_meas_zero_2, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(received().size(), size_t(1), 1000);
        QCOMPARE(received().front().bytes, request(Command::SetZeroPoint, 13));
        QCOMPARE(files::logMessages().count(QStringLiteral("1 Set Zero Point:")), 1);
    }

    void schedules_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<Frames>("expected");
        // Addresses by probe position; -1 for an empty field.
        const std::vector<int> gap{12, 13, -1, 15, 16, 17, 18, 19};
        const std::vector<int> same{12, 13, 14, 15, 16, 12, 18, 19};
        const auto fields = [](const std::vector<int> &addresses) {
            QStringList texts;
            for (const int address : addresses)
                texts << (address < 0 ? QString() : QString::number(address));
            return texts;
        };
        const auto measurement = [](const std::vector<int> &addresses) {
            Frames frames = series(Command::StartMeasurement, addresses, 0, 1.5 * delayMs);
            const Frames results =
                series(Command::GetMeasurementResult, addresses, 12 * delayMs, 1.5 * delayMs);
            frames.insert(frames.end(), results.begin(), results.end());
            return frames;
        };
        const QByteArray eight = files::settings(busAddresses, delayMs);
        const QByteArray air = "updateAirCode_Slot";
        const QString renew = QStringLiteral("Обновить \"Воздух\"");
        const QByteArray measure = "getLineMeasResult_Slot";
        const QString measuring = QStringLiteral("Запуск измерения");
        QTest::newRow("air") << eight << busFields << air << renew
                             << series(Command::UpdateAirCode, busAddresses, 0, delayMs);
        QTest::newRow("air, third field empty") << eight << fields(gap) << air << renew
                                                << series(Command::UpdateAirCode, gap, 0, delayMs);
        QTest::newRow("air, two fields, one address")
            << eight << fields(same) << air << renew
            << series(Command::UpdateAirCode, same, 0, delayMs);
        QTest::newRow("measurement")
            << eight << busFields << measure << measuring << measurement(busAddresses);
        QTest::newRow("measurement, third field empty")
            << eight << fields(gap) << measure << measuring << measurement(gap);

        // The blank line ends the addresses after five probes; the delay is still read. These
        // two take the settings' addresses, not the fields'.
        const QByteArray five =
            "Port=COM3\r\nProbe1=16\r\nProbe2=12\r\nProbe3=0\r\nProbe4=19\r\n"
            "Probe5=13\r\n\r\nProbe6=14\r\nProbe7=15\r\nProbe8=17\r\nDelay=" +
            QByteArray::number(delayMs);
        const std::vector<int> settings{16, 12, 0, 19, 13};
        const QStringList ignored{"abc", "", "1", "2", "3", "4", "5", "6"};
        QTest::newRow("air check, five probes in the settings")
            << five << ignored << QByteArray("checkAirCode_Slot")
            << QStringLiteral("Проверка \"Воздуха\"")
            << series(Command::CheckAirCode, settings, 0, delayMs);
        QTest::newRow("start, five probes in the settings")
            << five << ignored << QByteArray("startLineMeas_Slot")
            << QStringLiteral("Старт измерения")
            << series(Command::StartMeasurement, settings, 0, delayMs);
    }

    // Every frame in order and on time, none refused by the line's minimum gap.
    void schedules()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, fields);
        QFETCH(QByteArray, slot);
        QFETCH(QString, operation);
        QFETCH(Frames, expected);
        QVERIFY(files::write(QStringLiteral("settings.cfg"), settings));
        OrvaUI window;
        connectWithAddresses(window, fields);

        qint64 startUs = 0;
        const Round round = settledRound(window, operation, [&]() {
            startUs = probesim::steadyMicroseconds();
            QVERIFY(QMetaObject::invokeMethod(&window, slot.constData()));
        });
        QCOMPARE(received().size() - round.requestsFrom, expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            const probesim::ProbeRequest &frame = received()[round.requestsFrom + i];
            QCOMPARE(frame.bytes, request(expected[i].command, expected[i].address));
            // Qt rounds every wait up to whole milliseconds, so a chain of timers drifts late by
            // a fraction of a millisecond per step, more on a loaded machine; never early.
            const double lateMs = double(frame.timeUs - startUs) / 1000 - expected[i].atMs;
            QVERIFY2(lateMs > -1.0 && lateMs < delayMs / 2,
                     qPrintable(QStringLiteral("frame %1 late by %2 ms").arg(i).arg(lateMs)));
        }
        QVERIFY(files::logMessages()
                    .mid(round.logFrom)
                    .filter(QStringLiteral("Packet not sended"))
                    .isEmpty());
    }

    // Settings with eight probes, connect, type the addresses, renew air, measure: every panel
    // shows its probe's value, and the log tells the whole exchange.
    void operatorStory()
    {
        OrvaUI window;
        connectWithAddresses(window);
        const Round air = settledRound(window, window.ui.pb_line_meas_update_air);
        const Round measurement = settledRound(window, window.ui.pb_line_meas_get);
        QTRY_COMPARE_WITH_TIMEOUT(panelValues(window), shown, 2000);

        const QStringList log = files::logMessages();
        QCOMPARE(log.mid(0, 3),
                 (QStringList{"0 Delay: " + QString::number(delayMs),
                              "1 Port low latency: refused, the port is used as it is",
                              "0 Device Connected"}));
        QStringList renewed;
        for (int address : busAddresses)
            renewed << trace::acknowledged("Update Air Code", Command::UpdateAirCode, address);
        QCOMPARE(log.mid(air.logFrom, renewed.size()), renewed);
        QCOMPARE(log.mid(measurement.logFrom), measurementLog());
        if (air.attempts == 1 && measurement.attempts == 1)
            QCOMPARE(log.size(), 3 + renewed.size() + measurementLog().size());
    }

    // A measurement round leaves one record per probe, field by field the probe's values, with
    // the panels that hold its address; a result no panel holds is not a record.
    void measurementRecords()
    {
        QVERIFY(QDir(QStringLiteral("records")).removeRecursively());
        const QDateTime before = QDateTime::currentDateTime();
        int earlierRecords = 0;
        {
            OrvaUI window;
            connectWithAddresses(window);
            const Round round = settledRound(window, window.ui.pb_line_meas_get);
            QTRY_COMPARE_WITH_TIMEOUT(panelValues(window), shown, 2000);
            // Results of a round run again are records too.
            earlierRecords =
                files::logMessages().mid(0, round.logFrom).filter(QStringLiteral("1 Raw: ")).size();
            window.newMeasurement_Slot(44, 1.0f, 2.0f, 3);
            typeAddress(window, 4, QStringLiteral("13"));
            window.newMeasurement_Slot(13, 0.1f, 99.25f, 255);
        }
        const QDateTime after = QDateTime::currentDateTime();
        QFile file(QStringLiteral("records/") + before.date().toString(Qt::ISODate) +
                   QStringLiteral(".csv"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 1 + earlierRecords + probeCount + 1 + 1);
        lines.erase(lines.begin() + 1, lines.begin() + 1 + earlierRecords);
        QCOMPARE(lines[0], QByteArray("time,channel,address,raw_um,calibrated_um,quality,verdict,"
                                      "lower_um,upper_um\r"));
        QVERIFY(lines.last().isEmpty());
        for (int i = 0; i <= probeCount; ++i) {
            const QList<QByteArray> fields = lines[1 + i].chopped(1).split(',');
            QCOMPARE(fields.size(), 9);
            // No limits in this folder: no verdict.
            QCOMPARE(fields.mid(6), (QList<QByteArray>{"", "", ""}));
            const QDateTime time =
                QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODateWithMs);
            QVERIFY2(time.isValid() && time >= before.addMSecs(-1) && time <= after,
                     fields[0].constData());
            QCOMPARE(time.offsetFromUtc(), before.offsetFromUtc());
            QVERIFY(
                QRegularExpression(
                    QStringLiteral(
                        "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"))
                    .match(QString::fromLatin1(fields[0]))
                    .hasMatch());
            if (i == probeCount) {
                QCOMPARE(fields.mid(1, 5), (QList<QByteArray>{"2;4", "13", "0.1", "99.25", "255"}));
                continue;
            }
            const QByteArray value = logged[i].toLatin1();
            QCOMPARE(fields.mid(1, 5),
                     (QList<QByteArray>{QByteArray::number(i + 1),
                                        QByteArray::number(busAddresses[size_t(i)]), value, value,
                                        QByteArray::number(90 + i)}));
        }
    }

    // A new session keeps the records; the history page, built only when first shown, has
    // them in its chart and table, and takes the next result live.
    void historyAfterRestart()
    {
        QVERIFY(QDir(QStringLiteral("records")).removeRecursively());
        {
            OrvaUI window;
            for (int probe = 1; probe <= probeCount; ++probe)
                panel(window, probe).address->setText(busFields[probe - 1]);
            for (int i = 0; i < probeCount; ++i)
                window.newMeasurement_Slot(uint8_t(busAddresses[size_t(i)]), 1, 100.0f + float(i),
                                           9);
        }
        OrvaUI window;
        QCOMPARE(window.ui.tabWidget->count(), 2);
        QCOMPARE(window.ui.tabWidget->tabText(1), QStringLiteral("История"));
        QCOMPARE(window.ui.tabWidget->currentIndex(), 0);
        QVERIFY(!window.history());
        window.ui.tabWidget->setCurrentIndex(1);
        HistoryTab *history = window.history();
        QVERIFY(history);
        QSignalSpy loaded(history, &HistoryTab::loaded);
        QVERIFY(loaded.wait(5000));
        QCOMPARE(history->table()->model()->rowCount(), probeCount);
        QCOMPARE(history->statistics()->rowCount(), probeCount);
        for (int channel = 1; channel <= probeCount; ++channel) {
            const history::SeriesKey key{channel, busAddresses[size_t(channel - 1)]};
            QCOMPARE(history->drawnPoints(key), 1);
            QCOMPARE(history->model().series(key).y.front(), 99.0 + channel);
        }
        QCOMPARE(history->table()->model()->index(2, 4).data().toString(), QStringLiteral("102"));
        panel(window, 3).address->setText(busFields[2]);
        panel(window, 5).address->setText(busFields[2]);
        window.newMeasurement_Slot(14, 1, 55.5f, 9);
        QCOMPARE(history->table()->model()->rowCount(), probeCount + 1);
        QCOMPARE(history->table()->model()->index(probeCount, 1).data().toString(),
                 QStringLiteral("3;5"));
        // Channel 5 now holds another probe: a curve of its own.
        QTRY_COMPARE(history->drawnPoints({5, 14}), 1);
        QCOMPARE(history->drawnPoints({5, 16}), 1);
        QCOMPARE(history->drawnPoints({3, 14}), 2);
        QCOMPARE(history->statistics()->rowCount(), probeCount + 1);
        QVERIFY(history->skippedLabel()->text().isEmpty());
    }

    // A year of records opened while a round runs is read beside the line: no staggered
    // request is held up into the next one's gap, and the results recorded meanwhile are shown
    // once each beside the year.
    void yearOfRecordsDuringRound()
    {
        QVERIFY(QDir(QStringLiteral("records")).removeRecursively());
        QDate first;
        const int lines = writeYearOfRecords(first);
        QVERIFY(lines > 0);
        OrvaUI window;
        connectWithAddresses(window);
        window.showHistory();
        HistoryTab *history = window.history();
        QSignalSpy loaded(history, &HistoryTab::loaded);
        QVERIFY(loaded.wait(5000));
        window.ui.tabWidget->setCurrentIndex(0);
        const Round round = settledRound(window, window.ui.pb_line_meas_get->text(), [&] {
            QTest::mouseClick(window.ui.pb_line_meas_get, Qt::LeftButton);
            QTimer::singleShot(3 * delayMs, history, [history, first] {
                history->showDays(history::DaySpan::Range, first, QDate::currentDate());
            });
        });
        // The simulated probes answer from this thread too, so a loop held up by the page holds
        // up their answers as well: what a probe answered is the line's business, and the
        // summary need only account for all eight. Nothing may be refused.
        QCOMPARE(round.summaries.size(), 1);
        QVERIFY2(round.summaries.first().startsWith(window.ui.pb_line_meas_get->text() +
                                                    ": приборов 8, успешно "),
                 qPrintable(round.summaries.first()));
        const QStringList log = files::logMessages();
        QVERIFY(log.filter(QStringLiteral("Packet not sended")).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!history->isLoading(), 20000);
        const int results = int(log.filter(QStringLiteral("Get Measurement Result OK")).size());
        QCOMPARE(int(history->model().records().size()), lines + results);
    }

    // A date typed field by field reloads the page once, when the typing is done.
    void historyDateTypedOnce()
    {
        QVERIFY(QDir(QStringLiteral("records")).removeRecursively());
        OrvaUI window;
        window.showHistory();
        HistoryTab *history = window.history();
        QSignalSpy loaded(history, &HistoryTab::loaded);
        QVERIFY(loaded.wait(5000));
        history->showDays(history::DaySpan::Range);
        QVERIFY(loaded.wait(5000));
        QSignalSpy started(history, &HistoryTab::loadStarted);
        QDateEdit *from = history->findChildren<QDateEdit *>().value(0);
        QVERIFY(from && from->isEnabled());
        const QDate today = QDate::currentDate();
        from->setDate(QDate(today.year(), today.month(), 1));
        from->setDate(QDate(today.year(), 1, 1));
        from->setDate(QDate(today.year() - 1, 1, 1));
        QVERIFY(loaded.wait(5000));
        QCOMPARE(started.count(), 1);
        QCOMPARE(history->model().firstDay(), QDate(today.year() - 1, 1, 1));
    }

    // A folder that cannot be written is shown in the status bar and resumes by itself.
    void recordsNotKept()
    {
        QVERIFY(QDir(QStringLiteral("records")).removeRecursively());
        QVERIFY(files::write(QStringLiteral("records"), "in the way"));
        OrvaUI window;
        panel(window, 1).address->setText(QStringLiteral("12"));
        window.newMeasurement_Slot(12, 1, 2, 3);
        QCOMPARE(window.stateField().item(QStringLiteral("records")),
                 QStringLiteral("Записи не сохраняются"));
        QVERIFY(files::logMessages().last().startsWith(QStringLiteral("0 Records not kept: ")));
        QVERIFY(QFile::remove(QStringLiteral("records")));
        window.newMeasurement_Slot(12, 1, 2, 3);
        QVERIFY(window.stateField().item(QStringLiteral("records")).isEmpty());
        QVERIFY(window.records().keeping());
    }

    void deviceLoss_data()
    {
        QTest::addColumn<bool>("writeAtOnce");
        // Reads that find nothing, in a tight loop.
        QTest::newRow("line hung up") << false;
        // A write fails with the adapter gone: ResourceError, no loop needed.
        QTest::newRow("write to the dead line") << true;
    }

    // A pulled adapter: the port is closed once, within a second, the operator is told, the
    // port list is watched again, and nothing spins on the dead line.
    void deviceLoss()
    {
        QFETCH(bool, writeAtOnce);
        OrvaUI window;
        connectWithAddresses(window);
        // Each request re-arms the engine's callbacks on the port; the window's watch of its
        // errors must survive that.
        QTest::mouseClick(window.ui.pb_line_meas_zero_1, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(files::logMessages().last(), "1 Set Zero Point OK", 1000);
        QTRY_VERIFY_WITH_TIMEOUT(probesim::steadyMicroseconds() - received().back().timeUs > 6000,
                                 1000);
        bench->bus.detach();
        bench->line.closeMaster();
        if (writeAtOnce) {
            // The failed write closes the port inside the engine's own write; nothing more may
            // go to the closed port, and the exchange ends unanswered.
            static QStringList warnings;
            warnings.clear();
            const QtMessageHandler previous = qInstallMessageHandler(
                [](QtMsgType type, const QMessageLogContext &, const QString &text) {
                    if (type == QtWarningMsg)
                        warnings << text;
                });
            QTest::mouseClick(window.ui.pb_line_meas_zero_1, Qt::LeftButton);
            qInstallMessageHandler(previous);
            QVERIFY(!window.port().isOpen());
            QVERIFY2(warnings.filter(QStringLiteral("not open")).isEmpty(),
                     qPrintable(warnings.join('\n')));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!window.port().isOpen(), 1000);
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Устройство не подключено"));
        QVERIFY(window.portPoll().isActive());
        if (writeAtOnce)
            QTRY_COMPARE_WITH_TIMEOUT(files::logMessages().last(), QStringLiteral("1 No response"),
                                      1000);

        // A loop spinning on the dead line would burn all the time it is given.
        const double cpuBefore = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QSignalSpy polls(&window.portPoll(), &QTimer::timeout);
        QTRY_COMPARE_WITH_TIMEOUT(polls.count(), 2, 2000);
        QVERIFY2(cpuSeconds() - cpuBefore < 0.6 * double(wall.elapsed()) / 1000,
                 "busy while the line is dead");

        QTest::mouseClick(window.ui.pb_line_meas_update_air, Qt::LeftButton);
        const QStringList log = files::logMessages();
        QCOMPARE(log.count(QStringLiteral("0 Device not connected")), 1);
        // The reason follows the loss; only the verdict of the exchange the loss cut short may
        // come after them.
        const int lost = log.indexOf(QStringLiteral("0 Device not connected"));
        QVERIFY2(log.value(lost + 1).startsWith("0 Reason: not found"), qPrintable(log.join('\n')));
        for (const QString &line : log.mid(lost + 2))
            QCOMPARE(line, QStringLiteral("1 No response"));
    }

    // The scan from the menu, with its progress dialog: every request logged as any other
    // command's, and the finds offered for the address fields in ascending order, replacing
    // what was typed only when the operator agrees.
    void findProbes()
    {
        bench->model.removeProbe(19);
        QVERIFY(bench->model.addProbe(5));
        OrvaUI window;
        choosePort(window, bench->line.slavePath());
        for (const ProbePanel &panel : probePanels(window.ui))
            panel.address->clear();
        typeAddress(window, 3, QStringLiteral("99"));
        QVERIFY(scanWholeLine(window));
        auto *offer = window.findChild<QMessageBox *>(QStringLiteral("probeSearchOffer"));
        QVERIFY(offer);
        QVERIFY2(offer->text().contains(QStringLiteral("5, 12, 13, 14, 15, 16, 17, 18.")) &&
                     offer->text().contains(QStringLiteral("заменены")),
                 qPrintable(offer->text()));
        const auto fields = [&window] {
            QStringList texts;
            for (const ProbePanel &panel : probePanels(window.ui))
                texts << panel.address->text();
            return texts;
        };
        QCOMPARE(fields(), (QStringList{"", "", "99", "", "", "", "", ""}));
        offer->button(QMessageBox::Yes)->click();
        QCOMPARE(fields(), (QStringList{"5", "12", "13", "14", "15", "16", "17", "18"}));
        QVERIFY(panel(window, 8).zero->isEnabled());

        const QStringList log = files::logMessages();
        QCOMPARE(log.count(QStringLiteral("1 Check Air Code:")), 256);
        QCOMPARE(log.count(QStringLiteral("1 Check Air Code OK")), 8);
        QCOMPARE(log.count(QStringLiteral("1 No response")), 248);
        QVERIFY(log.contains(trace::txLine(request(Command::CheckAirCode, 255))));
        QVERIFY(log.contains(
            QStringLiteral("0 Probe search finished, found 8: 5, 12, 13, 14, 15, 16, 17, 18")));
    }

    // More probes than panels: the operator is told and given the list; no field changes.
    void findTooManyProbes()
    {
        bench->model.setCapacity(9);
        QVERIFY(bench->model.addProbe(200));
        OrvaUI window;
        choosePort(window, bench->line.slavePath());
        QStringList before;
        for (const ProbePanel &panel : probePanels(window.ui))
            before << panel.address->text();
        QVERIFY(scanWholeLine(window));
        auto *told = window.findChild<QMessageBox *>(QStringLiteral("probeSearchTooMany"));
        QVERIFY(told);
        QVERIFY2(told->text().contains(QStringLiteral("9")) &&
                     told->text().contains(QStringLiteral("12, 13, 14, 15, 16, 17, 18, 19, 200")),
                 qPrintable(told->text()));
        QVERIFY(!window.findChild<QMessageBox *>(QStringLiteral("probeSearchOffer")));
        QStringList after;
        for (const ProbePanel &panel : probePanels(window.ui))
            after << panel.address->text();
        QCOMPARE(after, before);
    }

    // Cancel ends the scan after the request on the line; nothing is offered.
    void cancelProbeSearch()
    {
        OrvaUI window;
        choosePort(window, bench->line.slavePath());
        window.findChild<QAction *>(QStringLiteral("action_find_probes"))->trigger();
        auto *progress = window.findChild<QProgressDialog *>(QStringLiteral("probeSearchProgress"));
        QTRY_VERIFY_WITH_TIMEOUT(progress->value() >= 3, 2000);
        const auto buttons = progress->findChildren<QPushButton *>();
        QCOMPARE(buttons.size(), 1);
        QCOMPARE(buttons.first()->text(), QStringLiteral("Отмена"));
        QTest::mouseClick(buttons.first(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window.probeSearch().isRunning(), 1000);
        const size_t asked = received().size();
        QVERIFY(asked < 10);
        QTest::qWait(3 * window.probeSearch().scan().pacingMs());
        QCOMPARE(received().size(), asked);
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Поиск приборов прерван"));
        QVERIFY(!window.findChild<QMessageBox *>(QStringLiteral("probeSearchOffer")));
    }

    // Rounds at the operator's interval, each shown and logged as a clicked one; a click on the
    // menu entry stops them. A loop held up past a round's time starts that round late, and the
    // next one still keeps the whole interval after it.
    void continuousMeasurement()
    {
        OrvaUI window;
        connectWithAddresses(window);
        QSignalSpy running(&window.continuousMeasurement(), &ContinuousMeasurement::runningChanged);
        QAction *action =
            window.findChild<QAction *>(QStringLiteral("action_continuous_measurement"));
        action->trigger();
        auto *dialog = window.findChild<SecondsDialog *>(QStringLiteral("continuousInterval"));
        QVERIFY(dialog && dialog->isVisible());
        // 22.5 delays and the answer time limit: 940 ms, offered in tenths of a second.
        QCOMPARE(ContinuousMeasurement::roundMs(delayMs, 40), 940);
        QCOMPARE(dialog->spinBox()->minimum(), 1.0);
        dialog->spinBox()->setValue(1.2);
        QTimer::singleShot(1150, Qt::PreciseTimer,
                           [] { std::this_thread::sleep_for(std::chrono::milliseconds(150)); });
        dialog->accept();
        QCOMPARE(running.count(), 1);
        QCOMPARE(running.first().first().toBool(), true);
        QVERIFY(action->isChecked());
        // Nothing else sends while the rounds run, and the buttons say why; the entry that stops
        // them stays live, and an address typed meanwhile enables no button.
        typeAddress(window, 2, QStringLiteral("13"));
        for (QPushButton *button : {window.ui.pb_line_meas_get, window.ui.pb_line_meas_update_air,
                                    panel(window, 2).zero, panel(window, 8).reset}) {
            QVERIFY2(!button->isEnabled(), qPrintable(button->objectName()));
            QVERIFY(button->toolTip().contains(QStringLiteral("идёт непрерывное измерение")));
        }
        QVERIFY(action->isEnabled());

        QTRY_VERIFY_WITH_TIMEOUT(files::logMessages().count("1 Get Measurement Result OK") >= 24,
                                 6000);
        QCOMPARE(panelValues(window), shown);

        action->trigger();
        QCOMPARE(running.count(), 2);
        QCOMPARE(running.last().first().toBool(), false);
        QVERIFY(!action->isChecked() && !window.continuousMeasurement().isRunning());
        for (QPushButton *button : {window.ui.pb_line_meas_get, panel(window, 2).zero})
            QVERIFY(button->isEnabled() && button->toolTip().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(probesim::steadyMicroseconds() - received().back().timeUs > 300000,
                                 3000);
        const size_t after = received().size();
        // Every round is logged whole; one held up by the machine may have had a request refused.
        const QStringList log = files::logMessages();
        int wholeRounds = 0;
        for (int from = log.indexOf(measurementLog().first()); from >= 0;
             from = log.indexOf(measurementLog().first(), from + 1))
            wholeRounds += log.mid(from, measurementLog().size()) == measurementLog();
        QVERIFY2(wholeRounds >= 2, qPrintable(log.join(QLatin1Char('\n'))));
        std::vector<qint64> starts;
        for (const probesim::ProbeRequest &request : received()) {
            if (request.code() == uint8_t(Command::StartMeasurement) && request.address() == 12)
                starts.push_back(request.timeUs);
        }
        QVERIFY(starts.size() >= 3);
        for (size_t i = 1; i < starts.size(); ++i)
            QVERIFY2(starts[i] - starts[i - 1] >= 1190000,
                     qPrintable(QString::number(starts[i] - starts[i - 1])));
        QTest::qWait(1300);
        QCOMPARE(received().size(), after);
    }

    // The scan owns the line: it stops continuous rounds before its first request, their
    // armed commands never go, the sending controls wait behind a window-modal dialog, and
    // all comes back when it ends.
    void scanOwnsTheLine()
    {
        OrvaUI window;
        connectWithAddresses(window);
        window.lineCommands().setAnswerTimeLimit(quickAnswerLimitMs);
        ContinuousMeasurement &continuous = window.continuousMeasurement();
        continuous.start(0);
        QTRY_VERIFY_WITH_TIMEOUT(files::logMessages().contains("1 Start Measurement OK"), 2000);
        QSignalSpy finished(&window.probeSearch(), &ProbeSearch::finished);
        window.probeSearch().action()->trigger();

        QVERIFY(!continuous.isRunning() && !continuous.action()->isEnabled());
        const auto *progress =
            window.findChild<QProgressDialog *>(QStringLiteral("probeSearchProgress"));
        QVERIFY(progress && progress->isVisible());
        QCOMPARE(progress->windowModality(), Qt::WindowModal);
        for (QPushButton *button : {window.ui.pb_line_meas_get, window.ui.pb_line_meas_update_air,
                                    panel(window, 1).zero, panel(window, 8).measure}) {
            QVERIFY2(!button->isEnabled(), qPrintable(button->objectName()));
            QVERIFY(button->toolTip().contains(QStringLiteral("поиск приборов")));
        }
        QVERIFY(finished.wait(30000));
        QVERIFY(finished.first().first().toBool());

        const QStringList log = files::logMessages();
        const QStringList during = log.mid(log.indexOf("0 Probe search started"));
        QCOMPARE(during
                     .filter(QRegularExpression("^1 (Start Measurement|Get Measurement "
                                                "Result):$"))
                     .size(),
                 0);
        QCOMPARE(int(window.probeSearch().scan().foundAddresses().size()), probeCount);
        QVERIFY(continuous.action()->isEnabled());
        for (QPushButton *button : {window.ui.pb_line_meas_get, panel(window, 1).zero})
            QVERIFY(button->isEnabled() && button->toolTip().isEmpty());
    }

    // The shortest interval offered is a round at the delay and the engine's answer limit as
    // set now; a delay too long for a timer gives the longest interval a timer holds.
    void continuousRoundLength_data()
    {
        QTest::addColumn<int>("answerLimitMs");
        QTest::addColumn<double>("shortestSeconds");
        QTest::newRow("default limit") << 40 << 1.0;
        QTest::newRow("longer limit") << 110 << 1.1;
    }

    void continuousRoundLength()
    {
        QFETCH(int, answerLimitMs);
        QFETCH(double, shortestSeconds);
        OrvaUI window;
        choosePort(window, bench->line.slavePath());
        window.lineCommands().setAnswerTimeLimit(answerLimitMs);
        window.findChild<QAction *>(QStringLiteral("action_continuous_measurement"))->trigger();
        auto *dialog = window.findChild<SecondsDialog *>(QStringLiteral("continuousInterval"));
        QVERIFY(dialog);
        QCOMPARE(dialog->spinBox()->minimum(), shortestSeconds);
        QCOMPARE(ContinuousMeasurement::roundMs(-1, answerLimitMs), INT_MAX);
    }

    // A pulled adapter stops the rounds; an interval shorter than a round is lengthened to it.
    void continuousMeasurementStopsOnDeviceLoss()
    {
        OrvaUI window;
        connectWithAddresses(window);
        QSignalSpy running(&window.continuousMeasurement(), &ContinuousMeasurement::runningChanged);
        window.continuousMeasurement().start(100);
        const QString shownState = window.stateField().item(QStringLiteral("continuous"));
        QVERIFY2(shownState.startsWith(QStringLiteral("Непрерывное измерение")),
                 qPrintable(shownState));
        QTRY_COMPARE_WITH_TIMEOUT(files::logMessages().count("1 Get Measurement Result OK"), 16,
                                  4000);
        bench->bus.detach();
        bench->line.closeMaster();
        QTRY_VERIFY_WITH_TIMEOUT(!window.port().isOpen(), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(running.count(), 2, 1000);
        QCOMPARE(running.last().first().toBool(), false);
        QVERIFY(!window.continuousMeasurement().isRunning());
        QVERIFY(window.stateField().item(QStringLiteral("continuous")).isEmpty());
        QVERIFY(!window.findChild<QAction *>(QStringLiteral("action_continuous_measurement"))
                     ->isChecked());
        std::vector<qint64> starts;
        for (const probesim::ProbeRequest &request : received()) {
            if (request.code() == uint8_t(Command::StartMeasurement) && request.address() == 12)
                starts.push_back(request.timeUs);
        }
        QVERIFY(starts.size() >= 2);
        QVERIFY(starts[1] - starts[0] >= (window.continuousMeasurement().roundMs() - 10) * 1000);
    }

    // A megabyte of noise while a measurement runs: the window stays responsive, and the next
    // measurement is answered, logged and shown as if nothing had happened.
    void burstDuringMeasurement()
    {
        QVERIFY(files::write(QStringLiteral("settings.cfg"),
                             files::settings(busAddresses, shortDelayMs)));
        OrvaUI window;
        connectWithAddresses(window);
        std::optional<LoopStall> stall(std::in_place, 10);

        QTest::mouseClick(window.ui.pb_line_meas_get, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(files::logMessages().contains("1 Start Measurement OK"), 2000);
        // While the noise lasts the probes hear nothing.
        bench->faults.setRate(probesim::Fault::NoAnswer, 1.0);
        QByteArray noise(1024 * 1024, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        for (int written = 0; written < noise.size();) {
            const ssize_t count = ::write(bench->line.masterFd(), noise.constData() + written,
                                          size_t(noise.size() - written));
            QVERIFY2(count > 0 || errno == EAGAIN || errno == EINTR, strerror(errno));
            written += int(std::max<ssize_t>(count, 0));
            if (count <= 0)
                QTest::qWait(1);
        }
        QElapsedTimer burstEnded;
        burstEnded.start();
        // The round is over when its summary shows; on a loaded machine the noise can hold a
        // request up until the engine refuses it for the gap, as it must.
        QTRY_VERIFY_WITH_TIMEOUT(window.statusBar()->currentMessage().startsWith(
                                     QStringLiteral("Запуск измерения: приборов 8")),
                                 10000);
        bench->faults.clear();
        QVERIFY2(stall->longestMs() < 1000, qPrintable(QString::number(stall->longestMs())));
        stall.reset();

        // Bytes the pseudo-terminal had taken may still be on their way to the port; the next
        // request's buffer clear can only drop those that have arrived. The last request of the
        // round has had its time limit too.
        QTRY_VERIFY_WITH_TIMEOUT(
            burstEnded.hasExpired(50) && probesim::steadyMicroseconds() - received().back().timeUs >
                                             (probeline::answerTimeLimitMs + 10) * 1000,
            2000);
        const QStringList duringBurst = files::logMessages();
        QVERIFY2(!duringBurst.filter(QRegularExpression("Received: \\d{4,} bytes")).isEmpty(),
                 "the noise never reached a waiting request");
        QVERIFY(!duringBurst.contains(QStringLiteral("1 Wrong response size")));

        const Round round = settledRound(window, window.ui.pb_line_meas_get, shortDelayMs);
        QTRY_COMPARE_WITH_TIMEOUT(panelValues(window), shown, 2000);
        QCOMPARE(files::logMessages().mid(round.logFrom), measurementLog());
    }

    void silentProbes_data()
    {
        QTest::addColumn<QList<int>>("silent");
        QTest::addColumn<QString>("message");
        QTest::newRow("all answer") << QList<int>() << "Запуск измерения: приборов 8, успешно 8";
        QTest::newRow("one silent")
            << QList<int>{3} << "Запуск измерения: приборов 8, успешно 7; нет ответа: канал 3";
        QTest::newRow("two silent")
            << QList<int>{1, 6}
            << "Запуск измерения: приборов 8, успешно 6; нет ответа: каналы 1, 6";
    }

    // A probe that never answers: "No response" in the log for each of its requests, a grey
    // "нет ответа" in its panel instead of a value, and the silent channels in the status bar
    // once the round is over.
    void silentProbes()
    {
        QFETCH(QList<int>, silent);
        QFETCH(QString, message);
        for (const int probe : silent)
            bench->model.removeProbe(uint8_t(busAddresses[size_t(probe - 1)]));
        OrvaUI window;
        connectWithAddresses(window);
        const Round round = settledRound(window, window.ui.pb_line_meas_get);
        QCOMPARE(received().size() - round.requestsFrom, size_t(2 * probeCount));
        QStringList expected = shown;
        for (const int probe : silent)
            expected[probe - 1].clear();
        QTRY_COMPARE_WITH_TIMEOUT(panelValues(window), expected, 2000);
        QCOMPARE(round.summaries, QStringList{message});
        QCOMPARE(files::logMessages().mid(round.logFrom).count(QStringLiteral("1 No response")),
                 2 * silent.size());
        for (int probe = 1; probe <= probeCount; ++probe) {
            QCOMPARE(panel(window, probe).value->placeholderText(),
                     silent.contains(probe) ? QStringLiteral("нет ответа") : QString());
        }

        // The next round starts without the old verdict.
        bench->model.addProbe(uint8_t(busAddresses[size_t(silent.value(0, 1) - 1)]));
        QTest::mouseClick(window.ui.pb_line_meas_get, Qt::LeftButton);
        QCOMPARE(panel(window, silent.value(0, 1)).value->placeholderText(), QString());
    }

    // The last result comes after its time limit: the panel first says there was no answer,
    // then shows the value when it comes, as any answer is shown.
    void lateResult()
    {
        OrvaUI window;
        connectWithAddresses(window);
        const Round round = settledRound(window, QStringLiteral("Запуск измерения"), [&]() {
            bench->faults.clear();
            bench->faults.script(probesim::Fault::None, 2 * probeCount - 1);
            probesim::InjectedFault late(probesim::Fault::Late);
            late.delayMs = 3 * probeline::answerTimeLimitMs;
            bench->faults.script(late);
            QTest::mouseClick(window.ui.pb_line_meas_get, Qt::LeftButton);
        });
        QCOMPARE(round.summaries, QStringList{"Запуск измерения: приборов 8, успешно 7; "
                                              "нет ответа: канал 8"});
        QCOMPARE(panel(window, 8).value->text(), QString());
        QCOMPARE(panel(window, 8).value->placeholderText(), QStringLiteral("нет ответа"));
        QTRY_COMPARE_WITH_TIMEOUT(panelValues(window), shown, 2000);
    }

    // How long each kind of status message stays: 5000 ms. All run side by side, each in a
    // window of its own; the silent round has a line that nobody answers.
    void messageDurations()
    {
        probesim::PseudoTerminal deadLine;
        QVERIFY(deadLine.open());
        struct Watch
        {
            QString text;
            qint64 shownMs = -1;
            qint64 clearedMs = -1;
        };
        QElapsedTimer clock;
        clock.start();
        std::array<OrvaUI, 4> windows;
        std::array<Watch, 4> watches;
        for (size_t i = 0; i < windows.size(); ++i) {
            connect(windows[i].statusBar(), &QStatusBar::messageChanged, &windows[i],
                    [&clock, &watch = watches[i]](const QString &text) {
                        if (text.isEmpty()) {
                            watch.clearedMs = clock.elapsed();
                        } else {
                            watch.text = text;
                            watch.shownMs = clock.elapsed();
                            watch.clearedMs = -1;
                        }
                    });
        }
        choosePort(windows[0], bench->line.slavePath());
        choosePort(windows[1], QStringLiteral("/nonexistent/ttyT7R"));
        typeAddress(windows[2], 4, QStringLiteral("7"));
        panel(windows[2], 4).address->setText(QStringLiteral("x"));
        QTest::mouseClick(windows[2].ui.pb_line_meas_zero_4, Qt::LeftButton);
        choosePort(windows[3], deadLine.slavePath());
        typeAddress(windows[3], 2, QStringLiteral("12"));
        QTest::mouseClick(windows[3].ui.pb_line_meas_get, Qt::LeftButton);
        const auto watched = [&watches]() {
            QStringList seen;
            for (const Watch &watch : watches)
                seen << QStringLiteral("%1 %2..%3")
                            .arg(watch.text)
                            .arg(watch.shownMs)
                            .arg(watch.clearedMs);
            return seen.join(QStringLiteral("; "));
        };
        // The silent round's summary follows the connect's message once that has had its time.
        QVERIFY2(QTest::qWaitFor(
                     [&watches]() {
                         return std::all_of(
                                    watches.begin(), watches.end(),
                                    [](const Watch &watch) { return watch.clearedMs >= 0; }) &&
                                watches[3].text.startsWith(QStringLiteral("Запуск"));
                     },
                     14000),
                 qPrintable(watched()));
        // The silent round's summary counts whatever addresses the fields held.
        const QStringList texts{"Устройство подключено", "Устройство не подключено",
                                "Не корректный адрес, канал 4", "Запуск измерения: приборов "};
        for (size_t i = 0; i < watches.size(); ++i) {
            QVERIFY2(i == 3 ? watches[i].text.startsWith(texts[int(i)])
                            : watches[i].text == texts[int(i)],
                     qPrintable(watches[i].text));
            const qint64 shownFor = watches[i].clearedMs - watches[i].shownMs;
            // The status bar's timer is a coarse one: it may end up to 5 % early.
            QVERIFY2(shownFor >= 4740 && shownFor < 5600,
                     qPrintable(QStringLiteral("%1: %2 ms").arg(texts[int(i)]).arg(shownFor)));
        }
    }

    // The port poll enumerates only when the device folders change: one look when it starts,
    // then none while nothing comes or goes.
    void portWatchIdle()
    {
        PortWatch watch;
        QVERIFY(watch.mayHaveChanged());
        int looks = 0;
        for (int poll = 0; poll < 10; ++poll)
            looks += watch.mayHaveChanged();
        // A device may come or go on the machine meanwhile.
        QVERIFY2(looks <= 1, qPrintable(QString::number(looks)));
    }

    // A stray byte every millisecond while the operator renews air and measures in turn, each
    // click as soon as the previous operation's last request is on the line (its answer in
    // flight): the port stays open. Once the noise stops, a measurement shows all eight values.
    void noisyLineKeepsThePort()
    {
        QVERIFY(files::write(QStringLiteral("settings.cfg"),
                             files::settings(busAddresses, shortDelayMs)));
        OrvaUI window;
        connectWithAddresses(window);
        const auto refused = []() {
            return files::logMessages().count(
                QStringLiteral("1 Packet not sended. Waiting after the previous command."));
        };
        LineNoise noise(bench->line.masterFd());
        for (int click = 0; click < 20; ++click) {
            const bool measure = click % 2;
            const size_t before = received().size();
            const int refusedBefore = refused();
            QTest::mouseClick(
                measure ? window.ui.pb_line_meas_get : window.ui.pb_line_meas_update_air,
                Qt::LeftButton);
            // A request the gap refused never reaches the probes; the log tells how many went.
            const int requests = measure ? 2 * probeCount : probeCount;
            QTRY_VERIFY_WITH_TIMEOUT(
                !window.port().isOpen() ||
                    int(received().size() - before) + refused() - refusedBefore >= requests,
                3000);
            QVERIFY2(window.port().isOpen(),
                     qPrintable(QStringLiteral("closed at click %1").arg(click)));
        }
        noise.end();
        QVERIFY(files::logMessages().filter(QStringLiteral("Device not connected")).isEmpty());
        QVERIFY(window.statusBar()->currentMessage() != QStringLiteral("Устройство не подключено"));

        QTRY_VERIFY_WITH_TIMEOUT(probesim::steadyMicroseconds() - received().back().timeUs > 300000,
                                 2000);
        settledRound(window, window.ui.pb_line_meas_get, shortDelayMs);
        QTRY_COMPARE_WITH_TIMEOUT(panelValues(window), shown, 2000);
        QVERIFY(window.port().isOpen());
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
