#include "app/OrvaUI.h"
#include "probesim/ProbeSimulator.h"
#include "support/AdapterLatency.h"
#include "support/Files.h"

#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const std::vector<int> addresses{21, 22};
constexpr int delayMs = 40;
// What a USB adapter's latency timer commonly holds an answer for.
constexpr int latencyMs = 14;

}  // namespace

// Operations of the window that meet on the line at a real adapter's latency: a request that
// the engine refuses while another waits for its answer must not shift any later summary.
class TestRounds : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir workDir;
    std::unique_ptr<probesim::ProbeSimulator> simulator;
    std::unique_ptr<OrvaUI> window;
    std::unique_ptr<QSignalSpy> messages;

    // The summaries of `operation` shown so far, oldest first.
    QStringList summaries(const QString &operation) const
    {
        QStringList found;
        for (const QList<QVariant> &change : *messages) {
            const QString text = change.at(0).toString();
            if (text.startsWith(operation + QLatin1Char(':')))
                found << text;
        }
        return found;
    }

    bool waitForSummaries(const QString &operation, int count)
    {
        QDeadlineTimer deadline(15000);
        while (summaries(operation).size() < count && !deadline.hasExpired())
            messages->wait(int(deadline.remainingTime()));
        return summaries(operation).size() >= count;
    }

    static QString allAnswered(const QString &operation)
    {
        return operation + QStringLiteral(": приборов %1, успешно %1").arg(addresses.size());
    }

    // Lines of the log that say a request of the round failed on the line.
    static int lineFailures(const QStringList &log)
    {
        return log.count(QStringLiteral("1 Packet not sended. Waiting after the previous command.")) +
               log.count(QStringLiteral("1 No response")) + log.count(QStringLiteral("1 Bad hash")) +
               log.count(QStringLiteral("1 Wrong response size"));
    }

    QPushButton *airButton() { return window->ui.pb_line_meas_update_air; }
    QPushButton *measureButton() { return window->ui.pb_line_meas_get; }

private slots:
    void initTestCase()
    {
        QVERIFY(workDir.isValid() && QDir::setCurrent(workDir.path()));
    }

    void init()
    {
        QTest::qWait(10);
        // Two probes; the other six fields stay empty.
        QByteArrayList fields{"", "", "", "", "", "", "", ""};
        for (size_t i = 0; i < addresses.size(); ++i)
            fields[int(i)] = QByteArray::number(addresses[i]);
        QVERIFY(files::write(QStringLiteral("settings.cfg"),
                             files::settings(fields, QByteArray::number(delayMs))));
        simulator = std::make_unique<probesim::ProbeSimulator>();
        for (const int address : addresses)
            QVERIFY(simulator->model().addProbe(uint8_t(address)));
        simulator->bus().setLatency(latencyMs, 0);
        QVERIFY2(simulator->openPseudoTerminal(), qPrintable(simulator->errorString()));
        window = std::make_unique<OrvaUI>();
        window->ui.cb_ports->addItem(simulator->portPath());
        window->ui.cb_ports->setCurrentText(simulator->portPath());
        QTest::mouseClick(window->ui.pb_connect, Qt::LeftButton);
        QVERIFY(window->lineCommands().answerTimeLimit() > adapter::ftdiDefaultMs);
        // A pseudo-terminal takes no low-latency request: it is used as it is, and the log says
        // so once.
        QCOMPARE(files::logMessages().count(
                     QStringLiteral("1 Port low latency: refused, the port is used as it is")),
                 1);
        messages = std::make_unique<QSignalSpy>(window->statusBar(), &QStatusBar::messageChanged);
    }

    void cleanup()
    {
        messages.reset();
        window.reset();
        simulator.reset();
    }

    // Two operations clicked at once: both serve the first probe at the same moment, so the
    // engine refuses the second while the first waits for its answer. That refusal counts for
    // the measurement alone, and the next operation is summarised as it went.
    void refusalWhileAnExchangeWaits()
    {
        const QString measure = measureButton()->text();
        const QString air = airButton()->text();
        QTest::mouseClick(airButton(), Qt::LeftButton);
        QTest::mouseClick(measureButton(), Qt::LeftButton);
        QVERIFY(waitForSummaries(measure, 1));
        QVERIFY(waitForSummaries(air, 1));
        QCOMPARE(summaries(air).first(), allAnswered(air));
        const QStringList log = files::logMessages();
        if (log.contains(QStringLiteral("1 Packet not sended. Waiting after the previous command.")))
            QCOMPARE(summaries(measure).first(),
                     measure + QStringLiteral(": приборов 2, успешно 1; не отправлено: канал 1"));

        const int logFrom = int(files::logMessages().size());
        QTest::mouseClick(airButton(), Qt::LeftButton);
        QVERIFY(waitForSummaries(air, 2));
        if (lineFailures(files::logMessages().mid(logFrom)) == 0)
            QCOMPARE(summaries(air).last(), allAnswered(air));
    }

    // A click during continuous rounds takes the line from one of the round's requests; every
    // round after it is summarised as it went, and the rounds never lose step.
    void clickDuringContinuousRounds()
    {
        const QString measure = measureButton()->text();
        window->startContinuousMeasurement(window->measurementRoundMs(delayMs) + 60);
        QTest::mouseClick(airButton(), Qt::LeftButton);
        QVERIFY(waitForSummaries(measure, 1));
        int wholeRounds = 0;
        for (int round = 2; round <= 4; ++round) {
            const int logFrom = int(files::logMessages().size());
            QVERIFY(waitForSummaries(measure, round));
            const QString summary = summaries(measure).at(round - 1);
            // A round the machine held up may have lost a request; its summary then says so,
            // and never more channels than the log shows failures.
            const int failures = lineFailures(files::logMessages().mid(logFrom));
            if (failures == 0) {
                QCOMPARE(summary, allAnswered(measure));
                ++wholeRounds;
            }
        }
        window->stopContinuousMeasurement();
        QVERIFY(wholeRounds >= 1);
    }
};

QTEST_MAIN(TestRounds)
#include "tst_rounds.moc"
