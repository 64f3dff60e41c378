#include "ChildProcess.h"
#include "PortNamespace.h"
#include "ToolLog.h"
#include "app/OrvaUI.h"
#include "probesim/PseudoTerminal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <memory>

namespace {

constexpr int pollPeriodMs = 500;
// One poll period, with room for a loaded machine.
constexpr int listLatencyBoundMs = pollPeriodMs + 300;
constexpr int listTimeoutMs = 4000;

QStringList entries(const QComboBox *box)
{
    QStringList names;
    for (int i = 0; i < box->count(); ++i)
        names.append(box->itemText(i));
    return names;
}

}  // namespace

// The window's port list and connect button against ports that come and go in a private /dev,
// as adapters do when they are plugged in, pulled out or held by another program.
class TestPorts : public QObject
{
    Q_OBJECT

public:
    explicit TestPorts(QString skipReason) : skipReason(std::move(skipReason)) {}

private:
    // Leaves exactly the ports `names` plugged: new ones on fresh terminals.
    bool present(const QStringList &names);
    // Milliseconds from `clock`'s start until the port list showed `expected`; -1 if it never
    // did within listTimeoutMs.
    int waitForList(const QStringList &expected, const QElapsedTimer &clock);

    QString skipReason;
    std::unique_ptr<QTemporaryDir> workDir;
    std::unique_ptr<OrvaUI> window;
    std::map<QString, std::unique_ptr<probesim::PseudoTerminal>> plugged;
    QList<int> latencies;

private slots:
    void initTestCase()
    {
        if (!skipReason.isEmpty())
            QSKIP(qPrintable(skipReason));
    }

    void init()
    {
        workDir = std::make_unique<QTemporaryDir>();
        QVERIFY(workDir->isValid() && QDir::setCurrent(workDir->path()));
        window = std::make_unique<OrvaUI>();
        // The list of known ports lives as long as the process: one poll over the empty /dev
        // puts every test on the same footing.
        window->checkConnection_Slot();
    }

    void cleanup()
    {
        window.reset();
        QVERIFY(present({}));
    }

    void cleanupTestCase()
    {
        if (!latencies.isEmpty()) {
            std::sort(latencies.begin(), latencies.end());
            qInfo("port list caught up after %d to %d ms (median %d ms)", latencies.first(),
                  latencies.last(), latencies.at(latencies.size() / 2));
        }
    }

    void listFollowsPorts_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        const QString usb0 = QStringLiteral("ttyUSB0");
        const QString usb1 = QStringLiteral("ttyUSB1");
        const QString acm0 = QStringLiteral("ttyACM0");
        QTest::newRow("first adapter plugged in") << QStringList() << QStringList{usb0};
        QTest::newRow("second adapter plugged in") << QStringList{usb0} << QStringList{usb0, usb1};
        QTest::newRow("first of two pulled out") << QStringList{usb0, usb1} << QStringList{usb1};
        QTest::newRow("last one pulled out") << QStringList{usb0} << QStringList();
        QTest::newRow("one swapped for another kind")
            << QStringList{usb0, usb1} << QStringList{acm0, usb1};
    }

    // The list is refilled within a poll period, and the first port becomes the choice.
    void listFollowsPorts()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(present(before));
        QVERIFY(waitForList(before, clock) >= 0);

        clock.restart();
        QVERIFY(present(after));
        const int latency = waitForList(after, clock);
        QVERIFY2(latency >= 0,
                 qPrintable(QStringLiteral("the list still shows %1")
                                .arg(entries(window->ui.cb_ports).join(QLatin1Char(' ')))));
        latencies.append(latency);
        QVERIFY2(latency <= listLatencyBoundMs,
                 qPrintable(QStringLiteral("the list caught up only after %1 ms").arg(latency)));
        QCOMPARE(window->ui.cb_ports->currentText(), after.value(0));
    }

    // Polls that find the same ports leave the operator's choice alone.
    void choiceSurvivesUnchangedList()
    {
        QElapsedTimer clock;
        clock.start();
        QVERIFY(present({QStringLiteral("ttyUSB0"), QStringLiteral("ttyUSB1")}));
        QVERIFY(waitForList({QStringLiteral("ttyUSB0"), QStringLiteral("ttyUSB1")}, clock) >= 0);
        window->ui.cb_ports->setFocus();
        QTest::keyClick(window->ui.cb_ports, Qt::Key_Down);
        QCOMPARE(window->ui.cb_ports->currentText(), QStringLiteral("ttyUSB1"));

        QSignalSpy cleared(window->ui.cb_ports->model(), &QAbstractItemModel::rowsRemoved);
        QTest::qWait(3 * pollPeriodMs + 100);
        QCOMPARE(cleared.count(), 0);
        QCOMPARE(window->ui.cb_ports->currentText(), QStringLiteral("ttyUSB1"));
    }

    // A port that another program holds is refused, and nothing else changes: the workflow
    // stays locked and the poll goes on. Once the other program lets go, it connects.
    void heldPortIsRefused()
    {
        const QString port = QStringLiteral("ttyUSB0");
        QElapsedTimer clock;
        clock.start();
        QVERIFY(present({port}));
        QVERIFY(waitForList({port}, clock) >= 0);

        ChildProcess holder;
        holder.start(QStringLiteral(PORT_HOLDER), {QStringLiteral("/dev/") + port});
        QVERIFY2(holder.waitForReadyRead(10000) && holder.readLine().trimmed() == "held",
                 holder.readAllStandardError().constData());

        QTest::mouseClick(window->ui.pb_connect, Qt::LeftButton);
        QCOMPARE(window->ui.statusBar->currentMessage(),
                 QStringLiteral("Устройство не подключено"));
        const ToolLog log(workDir->path());
        QCOMPARE(log.count(QStringLiteral("Device not connected")), 1);
        QCOMPARE(log.count(QStringLiteral("Device Connected")), 0);
        QVERIFY(!window->port().isOpen());
        QVERIFY(!window->ui.pb_line_meas_update_air->isEnabled());
        QVERIFY(!window->ui.pb_line_meas_get->isEnabled());
        QCOMPARE(entries(window->ui.cb_ports), QStringList{port});
        QCOMPARE(holder.state(), QProcess::Running);

        QVERIFY(window->portPoll().isActive());
        clock.restart();
        QVERIFY(present({port, QStringLiteral("ttyUSB1")}));
        QVERIFY(waitForList({port, QStringLiteral("ttyUSB1")}, clock) >= 0);

        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(5000));
        QCOMPARE(window->ui.cb_ports->currentText(), port);
        QTest::mouseClick(window->ui.pb_connect, Qt::LeftButton);
        QCOMPARE(window->ui.statusBar->currentMessage(), QStringLiteral("Устройство подключено"));
        QCOMPARE(log.count(QStringLiteral("Device Connected")), 1);
        QVERIFY(window->port().isOpen());
        QVERIFY(window->ui.pb_line_meas_get->isEnabled());
        QVERIFY(!window->portPoll().isActive());
    }

    // A pulled adapter closes the port and sets the poll going again, so the list follows the
    // adapter when it comes back under another name.
    void lostDeviceRestartsPoll()
    {
        const QString port = QStringLiteral("ttyUSB0");
        QElapsedTimer clock;
        clock.start();
        QVERIFY(present({port}));
        QVERIFY(waitForList({port}, clock) >= 0);
        QTest::mouseClick(window->ui.pb_connect, Qt::LeftButton);
        QVERIFY(window->port().isOpen());

        plugged[port]->closeMaster();
        QTRY_VERIFY_WITH_TIMEOUT(!window->port().isOpen(), 5000);
        QCOMPARE(window->ui.statusBar->currentMessage(),
                 QStringLiteral("Устройство не подключено"));
        QCOMPARE(ToolLog(workDir->path()).count(QStringLiteral("Device not connected")), 1);
        QVERIFY(window->portPoll().isActive());

        clock.restart();
        QVERIFY(present({QStringLiteral("ttyUSB1")}));
        const int latency = waitForList({QStringLiteral("ttyUSB1")}, clock);
        QVERIFY(latency >= 0);
        QVERIFY2(latency <= listLatencyBoundMs,
                 qPrintable(QStringLiteral("the list caught up only after %1 ms").arg(latency)));
    }
};

bool TestPorts::present(const QStringList &names)
{
    QString error;
    for (auto port = plugged.begin(); port != plugged.end();) {
        if (names.contains(port->first)) {
            ++port;
            continue;
        }
        if (!portns::unplug(port->first, &error)) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        port = plugged.erase(port);
    }
    for (const QString &name : names) {
        if (plugged.count(name))
            continue;
        auto terminal = std::make_unique<probesim::PseudoTerminal>();
        if (!terminal->open() || !portns::plug(name, terminal->slavePath(), &error)) {
            qWarning("%s: %s%s", qPrintable(name), qPrintable(terminal->errorString()),
                     qPrintable(error));
            return false;
        }
        plugged[name] = std::move(terminal);
    }
    return true;
}

int TestPorts::waitForList(const QStringList &expected, const QElapsedTimer &clock)
{
    // Timed at the moment the box changes, not when a polling loop happens to look.
    QComboBox *box = window->ui.cb_ports;
    int reachedMs = entries(box) == expected ? int(clock.elapsed()) : -1;
    const auto check = [&]() {
        if (reachedMs < 0 && entries(box) == expected)
            reachedMs = int(clock.elapsed());
    };
    const QAbstractItemModel *model = box->model();
    const QMetaObject::Connection watches[] = {
        connect(model, &QAbstractItemModel::rowsInserted, this, check),
        connect(model, &QAbstractItemModel::rowsRemoved, this, check),
        connect(model, &QAbstractItemModel::modelReset, this, check),
    };
    while (reachedMs < 0 && clock.elapsed() < listTimeoutMs)
        QTest::qWait(10);
    for (const QMetaObject::Connection &watch : watches)
        disconnect(watch);
    return reachedMs;
}

int main(int argc, char *argv[])
{
    // Before the application object: a user namespace admits only a single-threaded process.
    const QString skipReason = portns::enter();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    TestPorts test(skipReason);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_ports.moc"
