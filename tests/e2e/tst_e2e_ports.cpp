#include "PortNamespace.h"
#include "app/OrvaUI.h"
#include "probesim/PseudoTerminal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <memory>

namespace {

constexpr int pollPeriodMs = 500;
// One poll period, with room for a loaded machine.
constexpr int listLatencyBoundMs = pollPeriodMs + 300;

QStringList entries(const QComboBox *box)
{
    QStringList names;
    for (int i = 0; i < box->count(); ++i)
        names.append(box->itemText(i));
    return names;
}

}  // namespace

// The window's port list against ports that come and go in a private /dev, as adapters do when
// they are plugged in or pulled out.
class TestPorts : public QObject
{
    Q_OBJECT

public:
    explicit TestPorts(QString skipReason) : skipReason(std::move(skipReason)) {}

private:
    QString skipReason;
    std::unique_ptr<QTemporaryDir> workDir;
    std::unique_ptr<OrvaUI> window;
    std::map<QString, std::unique_ptr<probesim::PseudoTerminal>> plugged;

    // Leaves exactly the ports `names` plugged, new ones on fresh terminals, and returns the
    // milliseconds until the list showed them; -1 if it did not within four seconds.
    int present(const QStringList &names)
    {
        QElapsedTimer clock;
        clock.start();
        QString error;
        for (auto port = plugged.begin(); port != plugged.end();) {
            const bool stays = names.contains(port->first);
            if (!stays && !portns::unplug(port->first, &error))
                return qWarning("%s", qPrintable(error)), -1;
            port = stays ? std::next(port) : plugged.erase(port);
        }
        for (const QString &name : names) {
            auto &terminal = plugged[name];
            if (terminal)
                continue;
            terminal = std::make_unique<probesim::PseudoTerminal>();
            if (!terminal->open() || !portns::plug(name, terminal->slavePath(), &error))
                return qWarning("%s: %s", qPrintable(name),
                                qPrintable(terminal->errorString() + error)),
                       -1;
        }
        // Timed at the moment the box changes, not when a polling loop happens to look.
        QComboBox *box = window->ui.cb_ports;
        int reachedMs = -1;
        const auto check = [&]() {
            if (reachedMs < 0 && entries(box) == names)
                reachedMs = int(clock.elapsed());
        };
        check();
        QObject watch;
        connect(box->model(), &QAbstractItemModel::rowsInserted, &watch, check);
        connect(box->model(), &QAbstractItemModel::rowsRemoved, &watch, check);
        return QTest::qWaitFor([&]() { return reachedMs >= 0; }, 4000) ? reachedMs : -1;
    }

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
        QString error;
        for (const auto &port : plugged)
            QVERIFY2(portns::unplug(port.first, &error), qPrintable(error));
        plugged.clear();
    }

    void listFollowsPorts_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("first adapter plugged in") << QStringList() << QStringList{"ttyUSB0"};
        QTest::newRow("second adapter plugged in")
            << QStringList{"ttyUSB0"} << QStringList{"ttyUSB0", "ttyUSB1"};
        QTest::newRow("first of two pulled out")
            << QStringList{"ttyUSB0", "ttyUSB1"} << QStringList{"ttyUSB1"};
        QTest::newRow("last one pulled out") << QStringList{"ttyUSB0"} << QStringList();
        QTest::newRow("one swapped for another kind")
            << QStringList{"ttyUSB0", "ttyUSB1"} << QStringList{"ttyACM0", "ttyUSB1"};
    }

    // The list is refilled within a poll period, and the first port becomes the choice; the
    // operator's own choice stays.
    void listFollowsPorts()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QVERIFY(present(before) >= 0);
        const int latency = present(after);
        QVERIFY2(latency >= 0, qPrintable("the list still shows " +
                                          entries(window->ui.cb_ports).join(QLatin1Char(' '))));
        qInfo("the port list caught up after %d ms", latency);
        QVERIFY2(latency <= listLatencyBoundMs, qPrintable(QString::number(latency) + " ms"));
        QCOMPARE(window->ui.cb_ports->currentText(), after.value(0));
        if (after.size() < 2)
            return;
        // Polls that find the same ports leave the operator's choice alone.
        window->ui.cb_ports->setFocus();
        QTest::keyClick(window->ui.cb_ports, Qt::Key_Down);
        QSignalSpy cleared(window->ui.cb_ports->model(), &QAbstractItemModel::rowsRemoved);
        QSignalSpy polls(&window->portPoll(), &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(polls.count() >= 3, 10000);
        QCOMPARE(cleared.count(), 0);
        QCOMPARE(window->ui.cb_ports->currentText(), after.value(1));
    }
};

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
