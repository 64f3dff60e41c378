#include "app/OrvaUI.h"
#include "probesim/ProbeSimulator.h"
#include "support/Files.h"

#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const std::vector<int> addresses{21, 22};
constexpr int delayMs = 40;
// The fields left without an address, which every summary names.
const QString skipped = QStringLiteral("; не корректный адрес: каналы 3, 4, 5, 6, 7, 8");
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
    QStringList messages;

    // The summaries of `operation` shown so far, oldest first.
    QStringList summaries(const QString &operation) const
    {
        return messages.filter(QRegularExpression(
            QStringLiteral("^") + QRegularExpression::escape(operation) + QStringLiteral(":")));
    }

    bool waitForSummaries(const QString &operation, int count)
    {
        return QTest::qWaitFor([&] { return summaries(operation).size() >= count; }, 15000);
    }

    static QString allAnswered(const QString &operation)
    {
        return operation + QStringLiteral(": приборов %1, успешно %1").arg(addresses.size()) +
               skipped;
    }

    // No summary may call more channels failed than the log shows failures of a request on the
    // line: a summary that lost step calls channels failed whose answers the log shows.
    static void checkAgainstLog(const QStringList &shown, int logFrom = 0)
    {
        static const QRegularExpression failure(QStringLiteral(
            "^1 (Packet not sended\\. Waiting after the previous command\\.|No response|Bad hash|"
            "Wrong response size)$"));
        static const QRegularExpression counts(QStringLiteral("приборов (\\d+), успешно (\\d+)"));
        int failedChannels = 0;
        for (const QString &summary : shown) {
            const auto match = counts.match(summary);
            QVERIFY2(match.hasMatch(), qPrintable(summary));
            failedChannels += match.captured(1).toInt() - match.captured(2).toInt();
        }
        QVERIFY2(failedChannels <= files::logMessages().mid(logFrom).filter(failure).size(),
                 qPrintable(shown.join(QLatin1Char('\n'))));
    }

private slots:
    void initTestCase() { QVERIFY(workDir.isValid() && QDir::setCurrent(workDir.path())); }

    void init()
    {
        QTest::qWait(10);
        // The settings name eight probes; the window keeps the first two.
        std::vector<int> fields = addresses;
        fields.resize(8, 99);
        QVERIFY(files::write(QStringLiteral("settings.cfg"), files::settings(fields, delayMs)));
        simulator = std::make_unique<probesim::ProbeSimulator>();
        for (const int address : addresses)
            QVERIFY(simulator->model().addProbe(uint8_t(address)));
        simulator->bus().setLatency(latencyMs, 0);
        QVERIFY2(simulator->openPseudoTerminal(), qPrintable(simulator->errorString()));
        window = std::make_unique<OrvaUI>();
        window->ui.cb_ports->addItem(simulator->portPath());
        window->ui.cb_ports->setCurrentText(simulator->portPath());
        QTest::mouseClick(window->ui.pb_connect, Qt::LeftButton);
        for (int probe = int(addresses.size()) + 1; probe <= 8; ++probe) {
            auto *field = window->findChild<QLineEdit *>(QStringLiteral("le_addr_%1").arg(probe));
            QVERIFY(field);
            field->clear();
            QTest::keyClick(field, Qt::Key_Return);
        }
        // The status bar tells nobody when it is asked to show the text it already shows, as
        // equal rounds do: each message is taken off once seen.
        messages.clear();
        QStatusBar *bar = window->statusBar();
        connect(bar, &QStatusBar::messageChanged, bar, [this, bar](const QString &text) {
            if (text.isEmpty())
                return;
            messages << text;
            QTimer::singleShot(0, bar, &QStatusBar::clearMessage);
        });
    }

    void cleanup()
    {
        window.reset();
        simulator.reset();
    }

    // Two operations clicked at once: both serve the first probe at the same moment, so the
    // engine refuses the second while the first waits for its answer. That refusal counts for
    // the measurement alone, and the next operation is summarised as it went.
    void operationsShareTheLine()
    {
        const QString measure = window->ui.pb_line_meas_get->text();
        const QString air = window->ui.pb_line_meas_update_air->text();
        QTest::mouseClick(window->ui.pb_line_meas_update_air, Qt::LeftButton);
        QTest::mouseClick(window->ui.pb_line_meas_get, Qt::LeftButton);
        QVERIFY(waitForSummaries(measure, 1));
        QVERIFY(waitForSummaries(air, 1));
        const QStringList log = files::logMessages();
        // A loaded machine may hold an answer past the time limit: only a line that lost
        // nothing else has one exact summary.
        if (log.count(QStringLiteral("1 No response")) == 0) {
            QCOMPARE(summaries(air).first(), allAnswered(air));
            if (log.contains(
                    QStringLiteral("1 Packet not sended. Waiting after the previous command.")))
                QCOMPARE(summaries(measure).first(),
                         measure +
                             QStringLiteral(": приборов 2, успешно 1; не отправлено: канал 1") +
                             skipped);
        }

        QTest::mouseClick(window->ui.pb_line_meas_update_air, Qt::LeftButton);
        QVERIFY(waitForSummaries(air, 2));
        checkAgainstLog(summaries(measure) + summaries(air));

        // Then an operation started during continuous rounds takes the line from one request;
        // no summary, of the rounds or of the operation, may call more channels failed than the
        // log shows failures, and the rounds never lose step. The rounds keep the button
        // disabled, so the operation comes through its slot, as code or the meta-object may
        // still start it.
        const int logFrom = int(files::logMessages().size());
        ContinuousMeasurement &continuous = window->continuousMeasurement();
        // Back to back: each round starts before the previous one's late outcomes are given up.
        continuous.start(continuous.roundMs());
        QVERIFY(!window->ui.pb_line_meas_update_air->isEnabled());
        window->updateAirCode_Slot();
        QVERIFY(waitForSummaries(measure, 1 + 4));
        QVERIFY(waitForSummaries(air, 2 + 1));
        continuous.stop();
        checkAgainstLog(summaries(measure).mid(1) + summaries(air).mid(2), logFrom);
        QVERIFY(summaries(measure).mid(2).contains(allAnswered(measure)));
    }
};

QTEST_MAIN(TestRounds)
#include "tst_rounds.moc"
