#include "WindowSuite.h"

#include "support/AdapterLatency.h"
#include "support/Files.h"

#include <QStatusBar>
#include <QTimer>
#include <QtTest>

#include <algorithm>

namespace window {

namespace {

// The longest the event loop went without a turn while this lives.
struct LoopStall
{
    LoopStall()
    {
        ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker, &QTimer::timeout, &ticker,
                         [this]() { longest = std::max(longest, sinceTick.restart()); });
        sinceTick.start();
        ticker.start(5);
    }
    qint64 longestMs() const { return std::max(longest, sinceTick.elapsed()); }

    QTimer ticker;
    QElapsedTimer sinceTick;
    qint64 longest = 0;
};

}  // namespace

Bench::Bench(const std::vector<int> &addresses)
{
    for (size_t i = 0; i < addresses.size(); ++i) {
        probesim::ProbeSettings settings;
        settings.thickness = 100.0f + 10.5f * float(i);
        settings.quality = uint8_t(90 + i);
        model.addProbe(uint8_t(addresses[i]), settings);
    }
    bus.setLatency(adapter::latencyMs, adapter::jitterMs);
}

bool Bench::open()
{
    if (!line.open())
        return false;
    bus.attach(line.masterFd());
    return true;
}

void Bench::pull()
{
    bus.detach();
    line.closeMaster();
}

QStringList measurementLog()
{
    QVector<trace::Reading> readings;
    for (int i = 0; i < probeCount; ++i)
        readings.append({busAddresses[size_t(i)], 100.0f + 10.5f * float(i), 90 + i, logged[i]});
    return trace::measurement(readings);
}

ProbePanel panel(OrvaUI &window, int probe)
{
    return probePanels(window.ui)[size_t(probe - 1)];
}

QStringList panelValues(const OrvaUI &window)
{
    QStringList values;
    for (const ProbePanel &panel : probePanels(window.ui))
        values << panel.value->text();
    return values;
}

QStringList addressFields(const OrvaUI &window)
{
    QStringList texts;
    for (const ProbePanel &panel : probePanels(window.ui))
        texts << panel.address->text();
    return texts;
}

void typeAddress(OrvaUI &window, int probe, const QString &text)
{
    QLineEdit *field = panel(window, probe).address;
    field->clear();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

bool choosePort(OrvaUI &window, const QString &path)
{
    window.ui.cb_ports->addItem(path);
    window.ui.cb_ports->setCurrentText(path);
    QTest::mouseClick(window.ui.pb_connect, Qt::LeftButton);
    return window.port().isOpen();
}

void Suite::connectWithAddresses(OrvaUI &window, const QStringList &fields)
{
    choosePort(window, bench->line.slavePath());
    for (int probe = 1; probe <= probeCount; ++probe)
        typeAddress(window, probe, fields[probe - 1]);
}

Round Suite::settledRound(OrvaUI &window, const QString &operation,
                          const std::function<void()> &start, int delay)
{
    // Beside two busy loops on two cores, three attempts in a row were seen held up.
    constexpr int maxAttempts = 5;
    // What is left of a delay after the slowest answer, or half of it on a long delay.
    const qint64 slack =
        std::max(1, std::min(delay / 2, delay - adapter::latencyMs - adapter::jitterMs));
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
        const bool refused = !files::logMessages()
                                  .mid(round.logFrom)
                                  .filter(QStringLiteral("Packet not sended"))
                                  .isEmpty();
        if ((stall.longestMs() < slack && !refused) || round.attempts == maxAttempts)
            return round;
        qInfo("%s: run again, the loop stood still for %lld ms%s", qPrintable(operation),
              stall.longestMs(), refused ? ", a request was refused" : "");
    }
}

Round Suite::settledRound(OrvaUI &window, QPushButton *button, int delay)
{
    return settledRound(
        window, button->text(), [button]() { QTest::mouseClick(button, Qt::LeftButton); }, delay);
}

void Suite::initTestCase()
{
    qRegisterMetaType<uint8_t>("uint8_t");
    QVERIFY(configHome.isValid());
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    QVERIFY(workDir.isValid() && QDir::setCurrent(workDir.path()));
    sinceLastTest.start();
}

void Suite::init()
{
    // The line keeps one minimum gap for the whole process: the previous test's last
    // request must not shorten this test's first.
    QTRY_VERIFY_WITH_TIMEOUT(sinceLastTest.elapsed() > 10, 100);
    QVERIFY(files::write(QStringLiteral("settings.cfg"), files::settings(busAddresses, delayMs)));
    bench = std::make_unique<Bench>();
    QVERIFY2(bench->open(), qPrintable(bench->line.errorString()));
}

void Suite::cleanup()
{
    bench.reset();
    sinceLastTest.restart();
}

}  // namespace window
