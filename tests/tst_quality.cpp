#include "quality/CalibrationJournal.h"
#include "quality/Limits.h"
#include "quality/Statistics.h"
#include "records/Record.h"
#include "support/CapturingLog.h"
#include "support/Files.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>
#include <tuple>

using quality::Verdict;

Q_DECLARE_METATYPE(quality::Verdict)

namespace {

quality::LimitsFile parse(const QByteArray &text)
{
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    return quality::parseLimits(buffer);
}

// Sample mean, standard deviation, Cp and Cpk of these values, worked out apart from the code
// under test (Python's statistics module): limits 97 .. 103 and 95 .. 102.
const double sample[] = {99.2, 100.4, 101.1, 98.7, 100.0, 102.3, 99.5, 100.8};

}  // namespace

class TestQuality : public QObject
{
    Q_OBJECT

private slots:
    void limitsFile_data();
    void limitsFile();
    void verdict_data();
    void verdict();
    void statistics_data();
    void statistics();
    void journalLines_data();
    void journalLines();
    void journalFile();
};

void TestQuality::limitsFile_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("errorLine");  // -1: read whole
    QTest::addColumn<QVector<int>>("withLimits");

    const auto row = [](const char *name, const QByteArray &text, int errorLine,
                        const QVector<int> &withLimits = {}) {
        QTest::newRow(name) << text << errorLine << withLimits;
    };
    row("two channels, comments, CRLF",
        "# line 3\r\n[channel1]\r\nnominal=100\r\nlower=95\r\nupper=105\r\n\r\n"
        "; gauge 8\r\n[channel8]\r\nlower = 0.1\r\nupper=0.3\r\n",
        -1, {1, 8});
    row("missing file", "", -1);
    row("equal bounds", "[channel2]\nlower=5\nupper=5\n", -1, {2});
    row("bounds in the wrong order",
        "[channel1]\nlower=5\nupper=6\n[channel3]\nlower=105\nupper=95\n", 4);
    row("nominal outside", "[channel1]\nnominal=90\nlower=95\nupper=105\n", 1);
    row("upper missing", "[channel1]\nlower=95\n", 1);
    row("channel 0", "[channel1]\nlower=1\nupper=2\n[channel0]\n", 4);
    row("channel 9", "[channel9]\n", 1);
    row("other section", "\n[general]\n", 2);
    row("section twice", "[channel1]\nlower=1\nupper=2\n[channel1]\nlower=1\nupper=2\n", 4);
    row("value before a section", "lower=1\n", 1);
    row("neither", "[channel1]\nlower 95\n", 2);
    row("unknown key", "[channel1]\nlower=1\nupper=2\nlimit=3\n", 4);
    row("key twice", "[channel1]\nlower=1\nlower=2\n", 3);
    row("comma decimal", "[channel1]\nlower=95,5\nupper=105\n", 2);
    row("nan", "[channel1]\nlower=nan\nupper=105\n", 2);
    row("inf", "[channel1]\nlower=1\nupper=inf\n", 3);
    row("empty value", "[channel1]\nlower=\n", 2);
    row("overlong line", "[channel1]\n# " + QByteArray(300, 'x') + "\n", 2);
}

// What the editor writes reads back to the same limits, to the last bit; a missing file is
// read as an empty one.
void TestQuality::limitsFile()
{
    QFETCH(QByteArray, text);
    QFETCH(int, errorLine);
    QFETCH(QVector<int>, withLimits);

    const quality::LimitsFile file =
        text.isEmpty() ? quality::readLimits(QStringLiteral("no folder/limits.ini")) : parse(text);
    QCOMPARE(file.ok(), errorLine < 0);
    if (errorLine >= 0)
        QCOMPARE(file.errorLine, errorLine);
    const quality::LimitsFile again = parse(quality::formatLimits(file.channels));
    for (int channel = 1; channel <= records::channelCount; ++channel) {
        const auto was = file.of(channel), is = again.of(channel);
        QCOMPARE(bool(was), withLimits.contains(channel));
        QCOMPARE(bool(is), bool(was));
        // Channel 8 has no nominal: the middle of its band stands for it.
        QVERIFY(channel != 8 || !was || was->nominal == (0.1 + 0.3) / 2);
        QVERIFY(!was || std::tie(is->lower, is->upper, is->nominal) ==
                            std::tie(was->lower, was->upper, was->nominal));
    }
}

void TestQuality::verdict_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<Verdict>("verdict");

    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("on the lower limit") << 95.0 << Verdict::InTolerance;
    QTest::newRow("on the upper limit") << 105.0 << Verdict::InTolerance;
    QTest::newRow("just below") << std::nextafter(95.0, 0.0) << Verdict::Below;
    QTest::newRow("just above") << std::nextafter(105.0, 200.0) << Verdict::Above;
    QTest::newRow("nan") << std::nan("") << Verdict::None;
    QTest::newRow("inf") << inf << Verdict::None;
    QTest::newRow("-inf") << -inf << Verdict::None;
}

void TestQuality::verdict()
{
    QFETCH(double, value);
    QFETCH(Verdict, verdict);
    const quality::Limits limits{100, 95, 105};
    QCOMPARE(limits.verdict(value), verdict);
    // A record's value is a float: the limit typed as 95.1 must judge 95.1f as the operator does.
    QCOMPARE(quality::Limits({95.1, 95.1, 95.2}).verdict(double(95.1f)), Verdict::InTolerance);
}

void TestQuality::statistics_data()
{
    QTest::addColumn<bool>("withLimits");
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    QTest::addColumn<double>("cp");
    QTest::addColumn<double>("cpk");
    QTest::addColumn<double>("outShare");

    QTest::newRow("centred") << true << 97.0 << 103.0 << 0.8638684255813619 << 0.7918793901162484
                             << 0.0;
    QTest::newRow("off centre, one value above")
        << true << 95.0 << 102.0 << 1.007846496511589 << 0.5039232482557945 << 0.125;
    QTest::newRow("no limits") << false << 0.0 << 0.0 << 0.0 << 0.0 << 0.0;
}

void TestQuality::statistics()
{
    QFETCH(bool, withLimits);
    QFETCH(double, lower);
    QFETCH(double, upper);
    QFETCH(double, cp);
    QFETCH(double, cpk);
    QFETCH(double, outShare);

    quality::Accumulator sums(
        withLimits ? std::optional(quality::Limits{(lower + upper) / 2, lower, upper})
                   : std::nullopt);
    for (const double value : sample)
        sums.add(value);
    sums.add(std::nan(""));  // no measurement: counted nowhere
    const quality::Statistics s = sums.result();
    QCOMPARE(s.count, qint64(8));
    QVERIFY(std::abs(s.mean - 100.25) < 1e-12);
    QVERIFY(std::abs(s.stddev - 1.1575836902790202) < 1e-12);
    QCOMPARE(s.min, 98.7);
    QCOMPARE(s.max, 102.3);
    QCOMPARE(bool(s.cp), withLimits);
    QCOMPARE(bool(s.cpk), withLimits);
    QCOMPARE(bool(s.outShare), withLimits);
    if (withLimits) {
        QVERIFY2(std::abs(*s.cp - cp) < 1e-9, qPrintable(QString::number(*s.cp, 'g', 17)));
        QVERIFY2(std::abs(*s.cpk - cpk) < 1e-9, qPrintable(QString::number(*s.cpk, 'g', 17)));
        QCOMPARE(*s.outShare, outShare);
    }

    // One value has no spread: no standard deviation to divide by, so no Cp.
    quality::Accumulator single(quality::Limits{100, 95, 105});
    single.add(100);
    QCOMPARE(single.result().stddev, 0.0);
    QVERIFY(!single.result().cp);
    QCOMPARE(*single.result().outShare, 0.0);
}

void TestQuality::journalLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("valid");

    const auto row = [](const char *name, const char *line, bool valid) {
        QTest::newRow(name) << QByteArray(line) << valid;
    };
    row("zero ok", "2026-12-08T09:15:02.125+03:00,1,12,zero,,ok", true);
    row("point", "2026-12-08T09:15:02.125Z,2,0,point,250.5,ok", true);
    row("quoted answer", "2026-12-08T09:15:02.125Z,8,255,reset,,\"Busy, \"\"late\"\"\"", true);
    row("command line, no panel", "2026-12-08T09:15:02.125Z,0,7,reset,,no response", true);
    row("channel 9", "2026-12-08T09:15:02.125Z,9,7,reset,,ok", false);
    row("address 256", "2026-12-08T09:15:02.125Z,1,256,reset,,ok", false);
    row("unknown command", "2026-12-08T09:15:02.125Z,1,7,air,,ok", false);
    row("bad time", "2026-12-08 09:15,1,7,zero,,ok", false);
    row("no answer", "2026-12-08T09:15:02.125Z,1,7,zero,,", false);
    row("nan measure", "2026-12-08T09:15:02.125Z,1,7,point,nan,ok", false);
    row("quote left open", "2026-12-08T09:15:02.125Z,1,7,zero,,\"ok", false);
    row("seven fields", "2026-12-08T09:15:02.125Z,1,7,zero,,ok,x", false);
}

void TestQuality::journalLines()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, valid);
    const auto event = quality::parseEvent(std::string_view(line.constData(), size_t(line.size())));
    QCOMPARE(bool(event), valid);
    // What is read writes back as it stood, the time in the form the writer uses.
    if (valid)
        QCOMPARE(quality::formatEvent(*event), QByteArray(line).replace("Z,", "+00:00,") + "\r\n");
}

void TestQuality::journalFile()
{
    QTemporaryDir dir;
    CapturingLog log;
    const QString path = dir.filePath("records/calibration.csv");
    quality::CalibrationJournal journal(&log, path);
    const QDateTime t = QDateTime::fromString("2026-12-08T10:00:00.000Z", Qt::ISODateWithMs);
    using C = quality::CalibrationCommand;
    QVERIFY(journal.append(quality::makeEvent(t, 1, 12, C::Zero, std::nullopt, "ok")));
    QVERIFY(
        journal.append(quality::makeEvent(t.addSecs(60), 2, 13, C::MeasurePoint, 250.5f, "Busy")));
    QVERIFY(
        journal.append(quality::makeEvent(t.addSecs(120), 3, 14, C::Reset, std::nullopt, "ok")));
    // The range takes its ends.
    QCOMPARE(quality::readJournalFile(path, t.addSecs(60).toMSecsSinceEpoch(),
                                      t.addSecs(120).toMSecsSinceEpoch())
                 .size(),
             size_t(2));

    // A folder that cannot be written loses the event, not the caller; the log says so once,
    // and says so again when events are kept again.
    const QString blocked = dir.filePath("blocked");
    QVERIFY(files::write(blocked, "a file where the folder should be"));
    quality::CalibrationJournal lost(&log, blocked + "/calibration.csv");
    log.lines.clear();
    QVERIFY(!lost.append(quality::makeEvent(t, 1, 1, C::Zero, std::nullopt, "ok")));
    QVERIFY(!lost.append(quality::makeEvent(t, 1, 1, C::Zero, std::nullopt, "ok")));
    QCOMPARE(log.lines.size(), 1);
    QVERIFY(log.lines[0].startsWith("0 Calibration journal not kept: "));
    QVERIFY(QFile::remove(blocked));
    QVERIFY(lost.append(quality::makeEvent(t, 1, 1, C::Zero, std::nullopt, "ok")));
    QCOMPARE(log.lines.value(1), QStringLiteral("0 Calibration journal kept again"));
}

QTEST_GUILESS_MAIN(TestQuality)
#include "tst_quality.moc"
