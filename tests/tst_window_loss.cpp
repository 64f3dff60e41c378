#include "support/Files.h"
#include "support/WindowSuite.h"

#include <QRandomGenerator>

#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

#include <QtTest>

using namespace window;

namespace {

// A stray byte on the line every millisecond, from outside the tool's thread, as a noisy pair
// or a chattering device puts them there.
struct LineNoise
{
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

    std::atomic<bool> stop{false};
    std::thread writer;
};

}  // namespace

// A line that misbehaves under the window: an adapter pulled, probes silent or late, steady
// noise and bursts.
class TestWindowLoss : public Suite
{
    Q_OBJECT

private slots:
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
        bench->pull();
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
        const std::clock_t cpuBefore = std::clock();
        QElapsedTimer wall;
        wall.start();
        QSignalSpy polls(&window.portPoll(), &QTimer::timeout);
        QTRY_COMPARE_WITH_TIMEOUT(polls.count(), 2, 2000);
        QVERIFY2(
            double(std::clock() - cpuBefore) / CLOCKS_PER_SEC < 0.6 * double(wall.elapsed()) / 1000,
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

    void silentProbes_data()
    {
        QTest::addColumn<QList<int>>("silent");
        QTest::addColumn<int>("late");
        QTest::addColumn<QString>("message");
        QTest::newRow("two silent")
            << QList<int>{1, 6} << 0
            << "Запуск измерения: приборов 8, успешно 6; нет ответа: каналы 1, 6";
        QTest::newRow("last result late")
            << QList<int>() << 8 << "Запуск измерения: приборов 8, успешно 7; нет ответа: канал 8";
    }

    // A probe that never answers: "No response" in the log for each of its requests, a grey
    // "нет ответа" in its panel instead of a value, and the silent channels in the status bar
    // once the round is over. A result that comes after its time limit is shown when it comes,
    // as any answer is shown.
    void silentProbes()
    {
        QFETCH(QList<int>, silent);
        QFETCH(int, late);
        QFETCH(QString, message);
        for (const int probe : silent)
            bench->model.removeProbe(uint8_t(busAddresses[size_t(probe - 1)]));
        OrvaUI window;
        connectWithAddresses(window);
        const Round round = settledRound(window, QStringLiteral("Запуск измерения"), [&]() {
            if (late) {
                bench->faults.clear();
                bench->faults.script(probesim::Fault::None, 2 * probeCount - 1);
                probesim::InjectedFault fault(probesim::Fault::Late);
                fault.delayMs = 3 * probeline::answerTimeLimitMs;
                bench->faults.script(fault);
            }
            QTest::mouseClick(window.ui.pb_line_meas_get, Qt::LeftButton);
        });
        QCOMPARE(received().size() - round.requestsFrom, size_t(2 * probeCount));
        QCOMPARE(round.summaries, QStringList{message});
        for (int probe = 1; probe <= probeCount; ++probe) {
            const bool unanswered = silent.contains(probe) || probe == late;
            QVERIFY(!unanswered || panel(window, probe).value->text().isEmpty());
            QCOMPARE(panel(window, probe).value->placeholderText(),
                     unanswered ? QStringLiteral("нет ответа") : QString());
        }
        QStringList expected = shown;
        for (const int probe : silent)
            expected[probe - 1].clear();
        QTRY_COMPARE_WITH_TIMEOUT(panelValues(window), expected, 2000);
        QCOMPARE(files::logMessages().mid(round.logFrom).count(QStringLiteral("1 No response")),
                 2 * silent.size() + (late ? 1 : 0));

        // The next round starts without the old verdict.
        bench->model.addProbe(uint8_t(busAddresses[size_t(silent.value(0, 1) - 1)]));
        QTest::mouseClick(window.ui.pb_line_meas_get, Qt::LeftButton);
        QCOMPARE(panel(window, silent.value(0, 1)).value->placeholderText(), QString());
    }

    // A stray byte every millisecond while the operator renews air and measures in turn, each
    // click as soon as the previous operation's last request is on the line (its answer in
    // flight): the port stays open. Then a megabyte of noise while a measurement runs: once it
    // stops, the next measurement is answered, logged and shown as if nothing had happened.
    void noisyLineKeepsThePort()
    {
        QVERIFY(files::write(QStringLiteral("settings.cfg"),
                             files::settings(busAddresses, shortDelayMs)));
        OrvaUI window;
        connectWithAddresses(window);
        const auto count = [](const QString &line) { return files::logMessages().count(line); };
        const QString refusal =
            QStringLiteral("1 Packet not sended. Waiting after the previous command.");
        LineNoise noise(bench->line.masterFd());
        for (int click = 0; click < 20; ++click) {
            const bool measure = click % 2;
            const size_t before = received().size();
            const int refusedBefore = count(refusal);
            QTest::mouseClick(
                measure ? window.ui.pb_line_meas_get : window.ui.pb_line_meas_update_air,
                Qt::LeftButton);
            // A request the gap refused never reaches the probes; the log tells how many went.
            const int requests = measure ? 2 * probeCount : probeCount;
            QTRY_VERIFY_WITH_TIMEOUT(
                !window.port().isOpen() ||
                    int(received().size() - before) + count(refusal) - refusedBefore >= requests,
                3000);
            QVERIFY2(window.port().isOpen(),
                     qPrintable(QStringLiteral("closed at click %1").arg(click)));
        }
        noise.end();
        QVERIFY(files::logMessages().filter(QStringLiteral("Device not connected")).isEmpty());
        QVERIFY(window.statusBar()->currentMessage() != QStringLiteral("Устройство не подключено"));

        const auto quiet = [this](qint64 us) {
            return probesim::steadyMicroseconds() - received().back().timeUs > us;
        };
        QTRY_VERIFY_WITH_TIMEOUT(quiet(300000), 2000);
        const int burstFrom = files::logMessages().size();
        const int started = count(QStringLiteral("1 Start Measurement OK"));
        window.statusBar()->clearMessage();
        QTest::mouseClick(window.ui.pb_line_meas_get, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(count(QStringLiteral("1 Start Measurement OK")) > started, 2000);
        // While the noise lasts the probes hear nothing.
        bench->faults.setRate(probesim::Fault::NoAnswer, 1.0);
        QByteArray burst(1024 * 1024, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(burst.data()), burst.size() / 4);
        for (int written = 0; written < burst.size();) {
            const ssize_t sent = ::write(bench->line.masterFd(), burst.constData() + written,
                                         size_t(burst.size() - written));
            QVERIFY2(sent > 0 || errno == EAGAIN || errno == EINTR, strerror(errno));
            written += int(std::max<ssize_t>(sent, 0));
            if (sent <= 0)
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
        // Bytes the pseudo-terminal had taken may still be on their way to the port; the next
        // request's buffer clear can only drop those that have arrived. The last request of the
        // round has had its time limit too.
        QTRY_VERIFY_WITH_TIMEOUT(
            burstEnded.hasExpired(50) && quiet((probeline::answerTimeLimitMs + 10) * 1000), 2000);
        const QStringList duringBurst = files::logMessages().mid(burstFrom);
        QVERIFY2(!duringBurst.filter(QRegularExpression("Received: \\d{4,} bytes")).isEmpty(),
                 "the noise never reached a waiting request");
        QVERIFY(!duringBurst.contains(QStringLiteral("1 Wrong response size")));

        const Round round = settledRound(window, window.ui.pb_line_meas_get, shortDelayMs);
        QTRY_COMPARE_WITH_TIMEOUT(panelValues(window), shown, 2000);
        QCOMPARE(files::logMessages().mid(round.logFrom), measurementLog());
    }
};

QTEST_MAIN(TestWindowLoss)
#include "tst_window_loss.moc"
