#include "records/History.h"
#include "records/Record.h"
#include "records/RecordReader.h"
#include "records/RecordWriter.h"
#include "support/CapturingLog.h"
#include "support/Files.h"
#include "support/PrivateMounts.h"
#include "support/SelfRun.h"

#include <QBuffer>
#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

using records::Record;

namespace {

// The disk's answer to the writer's flushes: set, every flush fails as on a failing disk.
std::atomic<bool> failFlushes{false};

}  // namespace

// Stands in for the C library's, which the writer calls, so that a test can make it fail.
extern "C" int fdatasync(int handle)
{
    if (failFlushes) {
        errno = EIO;
        return -1;
    }
    return int(::syscall(SYS_fdatasync, handle));
}

namespace {

constexpr int skipExitCode = 77;

Record record(const char *time, QVector<int> channels, int address, float raw, float calibrated,
              int quality)
{
    return records::makeRecord(QDateTime::fromString(QString::fromLatin1(time), Qt::ISODateWithMs),
                               channels, uint8_t(address), raw, calibrated, uint8_t(quality));
}

// Two records alike to the last bit of every field are written alike, and only they.
bool same(const Record &a, const Record &b)
{
    return records::formatLine(a) == records::formatLine(b);
}

records::ReadResult readBytes(const QByteArray &bytes, const QDate &day)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    records::ReadResult result;
    records::read(buffer, day, result);
    return result;
}

// Child process: a file where records/ should be, or records/ on a 16 KiB tmpfs, read-only or
// filled to the brim; then room again. Prints what the writer reported; a crash or hang is the
// parent's to see.
int runSpoiltRecords(int argc, char **argv, const QByteArray &mode)
{
    if (mode != "file" && !enterPrivateMounts())
        return skipExitCode;
    if (!files::spoil(QStringLiteral("records"), mode))
        return 1;
    QCoreApplication app(argc, argv);
    CapturingLog log;
    RecordWriter writer(&log);
    QStringList changes;
    QObject::connect(&writer, &RecordWriter::keepingChanged, &writer,
                     [&changes](bool keeping, const QString &) {
                         changes << (keeping ? QStringLiteral("kept") : QStringLiteral("lost"));
                     });
    const QDateTime time = QDateTime::currentDateTime();
    int written = 0;
    for (int i = 0; i < 5; ++i)
        written += writer.append(time.addMSecs(i), {1}, 12, 1.5f, float(i), 90);
    // Room again: the file or the filler goes, or the folder is made writable.
    if (mode != "read-only")
        QFile::remove(mode == "file" ? QStringLiteral("records")
                                     : QStringLiteral("records/filler"));
    else if (::mount(nullptr, "records", nullptr, MS_REMOUNT, "size=16k,mode=0777") != 0)
        return 1;
    for (int i = 5; i < 8; ++i)
        written += writer.append(time.addMSecs(i), {1}, 12, 1.5f, float(i), 90);
    const auto read = records::readDays(QStringLiteral("records"), time.date(), time.date());
    QStringList values;
    for (const Record &r : read.records)
        values << QString::number(r.calibrated);
    std::printf("%d|%s|%s|%lld|%s\n", written, qPrintable(changes.join(',')),
                qPrintable(values.join(',')), read.skipped,
                qPrintable(log.lines.join(QLatin1Char('|'))));
    return 0;
}

// Child process: appends as fast as it can until killed.
int runAppendForever(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    m::DummyLog log;
    RecordWriter writer(&log);
    const QDateTime time = QDateTime::currentDateTime();
    for (int i = 0;; ++i) {
        writer.append(time, {1, 3}, 12, 100.25f + float(i % 7), float(i), uint8_t(i));
        if (i == 50) {
            std::printf("going\n");
            std::fflush(stdout);
        }
    }
}

}  // namespace

// The record files: their format field by field, what the reader makes of spoilt files, the
// writer on a torn, full or read-only folder, and the history model built on them.
class TestRecords : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir workDir;

private slots:
    void init() { QVERIFY(files::enterEmpty(workDir)); }

    void lineFormat_data()
    {
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QVector<int>>("channels");
        QTest::addColumn<float>("raw");
        QTest::addColumn<float>("calibrated");
        QTest::addColumn<QByteArray>("line");
        const QDate day(2026, 3, 9);
        QTest::newRow("east of UTC, two panels")
            << QDateTime(day, QTime(9, 5, 2, 7), Qt::OffsetFromUTC, 3 * 3600) << QVector<int>{1, 3}
            << 123.456f << 120.04f
            << QByteArray("2026-03-09T09:05:02.007+03:00,1;3,12,123.456,120.04,95,,,\r\n");
        QTest::newRow("west, half hours, panels out of order")
            << QDateTime(day, QTime(23, 59, 59, 999), Qt::OffsetFromUTC, -(5 * 3600 + 1800))
            << QVector<int>{8, 2} << 0.1f << 1e-45f
            << QByteArray("2026-03-09T23:59:59.999-05:30,2;8,12,0.1,1e-45,95,,,\r\n");
        QTest::newRow("UTC, large values")
            << QDateTime(day, QTime(0, 0), Qt::UTC) << QVector<int>{5} << 16777216.0f
            << -3.4028235e38f
            << QByteArray("2026-03-09T00:00:00.000+00:00,5,12,16777216,-3.4028235e+38,95,,,\r\n");
    }

    // What a spreadsheet or a script sees, and that every line reads back bit for bit.
    void lineFormat()
    {
        QFETCH(QDateTime, time);
        QFETCH(QVector<int>, channels);
        QFETCH(float, raw);
        QFETCH(float, calibrated);
        QFETCH(QByteArray, line);
        const Record written = records::makeRecord(time, channels, 12, raw, calibrated, 95);
        QCOMPARE(records::formatLine(written), line);
        const auto read = records::parseLine(line.chopped(2).toStdString());
        QVERIFY(read && same(*read, written));
        QCOMPARE(read->day(), time.date());
    }

    void badInput_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("skipped");
        // Files of the first six columns, as every file was before the tolerances.
        const QByteArray head = "time,channel,address,raw_um,calibrated_um,quality\r\n";
        const QByteArray good = "2026-03-09T10:00:00.000+01:00,1,12,100,101.5,90\r\n";
        const QByteArray good2 = "2026-03-09T10:01:00.000+01:00,2;3,13,100,102.5,91\n";
        // The good line with one field spoilt.
        const auto with = [&good](const QByteArray &from, const QByteArray &to) {
            return QByteArray(good).replace(from, to);
        };
        const auto row = [](const char *name, const QByteArray &text, int kept, int skipped) {
            QTest::newRow(name) << text << kept << skipped;
        };
        row("clean, LF and CRLF, quoted by a spreadsheet",
            head + good + good2 + "\"2026-03-09T10:00:00.000+01:00\",\"1;3\",12,100,101.5,90\r\n",
            3, 0);
        row("byte-order mark, no header counted", "\xEF\xBB\xBF" + head + good, 1, 0);
        row("torn in the last field", head + good + good2.chopped(2), 1, 1);
        row("five columns, seven columns",
            head + "2026-03-09T10:00:00.000+01:00,1,12,100,101.5\n" + good.chopped(2) + ",7\n" +
                good,
            1, 2);
        row("text for a number, comma decimal",
            head + with("101.5", "abc") + with("101.5", "\"101,5\"") + good2, 1, 2);
        // A probe's nan or inf is its answer: read back as written, the history does not draw it.
        row("not finite", head + with("101.5", "nan") + with("100", "-inf"), 2, 0);
        row("address beyond a byte, quality negative",
            head + with(",12,", ",256,") + with(",90", ",-1"), 0, 2);
        // Empty: t7r-cli's result for an address that no probe line of settings.cfg holds.
        row("channels 0, 9, twice, dangling; none",
            head + with(",1,", ",0,") + with(",1,", ",9,") + with(",1,", ",1;1,") +
                with(",1,", ",,") + with(",1,", ",1;,") + good,
            2, 4);
        row("time without offset, with a bad month, February 30",
            head + with("+01:00", "") + with("-03-", "-13-") + with("-03-09", "-02-30"), 0, 3);
        row("another day's line", head + with("-09T", "-08T") + good2, 1, 1);
        row("non-UTF-8 bytes, NUL in a line",
            head + with("100", "1\xff\xfe") + with("100", QByteArray("1\0", 2) + "00") + good, 1,
            2);
        row("empty line, a header later", head + "\n" + head + good, 1, 2);
        row("overlong line, then a good one", head + QByteArray(5000, '7') + "\n" + good, 1, 1);
        // Read in bounded memory and counted once.
        QByteArray noise(48 << 20, Qt::Uninitialized);
        QRandomGenerator(3).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        row("48 MiB of noise without a line end", noise.replace('\n', 'x') + "\n" + good, 1, 1);
        row("nothing", QByteArray(), 0, 0);

        // The reader goes by the header: each file's lines have its header's columns.
        const QByteArray judged = "2026-03-09T10:00:00.000+01:00,1,12,100,101.5,90,ok,95,105\r\n";
        const auto judgedWith = [&judged](const QByteArray &from, const QByteArray &to) {
            return QByteArray(judged).replace(from, to);
        };
        const QByteArray full = records::header();
        row("with limits: judged, unjudged, a value without limits",
            full + judged + judgedWith(",ok,", ",,") + QByteArray(good2).replace("91\n", "91,,,\n"),
            3, 0);
        row("with limits: a line of six columns", full + good + judged, 1, 1);
        row("without limits: a line of nine columns", head + judged + good, 1, 1);
        row("no header: either", good + judged, 2, 0);
        row("verdicts: unknown, without limits, one limit, bounds reversed, nan limit",
            full + judgedWith(",ok,", ",high,") + judgedWith(",ok,95,105", ",ok,,") +
                judgedWith(",95,105", ",95,") + judgedWith(",95,105", ",105,95") +
                judgedWith(",95,105", ",nan,105") + judged,
            1, 5);
    }

    // Line by line: a bad line costs itself and nothing else, and never becomes a point.
    void badInput()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, kept);
        QFETCH(int, skipped);
        const auto result = readBytes(text, QDate(2026, 3, 9));
        QCOMPARE(int(result.records.size()), kept);
        QCOMPARE(int(result.skipped), skipped);
        for (const Record &r : result.records)
            QVERIFY(r.calibrated == 101.5f || r.calibrated == 102.5f || std::isnan(r.calibrated));
    }

    // Only the days asked for, by their files' names; other names are not read. The history's
    // spans of days, a range given backwards put right.
    void daysByName()
    {
        QVERIFY(QDir().mkdir(QStringLiteral("records")));
        for (const char *name : {"2026-03-07", "2026-03-08", "2026-03-09", "2026-03-10"}) {
            const QByteArray line = QByteArray(name) + "T10:00:00.000+01:00,1,12,100,101.5,90,,,\n";
            QVERIFY(
                files::write(QStringLiteral("records/%1.csv").arg(name), records::header() + line));
            QVERIFY(files::write(QStringLiteral("records/%1.csv.bak").arg(name), line));
        }
        const QDate today(2026, 3, 9);
        using history::DaySpan;
        const auto [from, to] = history::days(DaySpan::Range, today, today, {2026, 3, 8});
        const auto read = records::readDays(QStringLiteral("records"), from, to);
        QCOMPARE(int(read.records.size()), 2);
        QCOMPARE(read.records[0].day(), QDate(2026, 3, 8));
        QCOMPARE(read.records[1].day(), QDate(2026, 3, 9));
        QCOMPARE(records::dayOfFileName(QStringLiteral("2026-02-30.csv")), std::nullopt);
        QCOMPARE(records::dayOfFileName(QStringLiteral("2026-03-09.csv")), QDate(2026, 3, 9));
        QCOMPARE(history::days(DaySpan::Today, today), std::pair(today, today));
        QCOMPARE(history::days(DaySpan::LastWeek, today), std::pair(QDate(2026, 3, 3), today));
        QCOMPARE(history::days(DaySpan::Range, today, {}, {2026, 2, 27}), std::pair(today, today));
    }

    // One header per file, one file per local day. A day's file begun before the tolerances goes
    // on in its six columns, so that none of its lines is lost to its header; a new day's file
    // carries the verdict and the limits. A line torn by a crash stays a bad line of its own
    // instead of swallowing the next record. A flush that fails is told for its line, and never
    // costs the next line, which is written whole.
    void writerFiles()
    {
        const QByteArray old =
            "time,channel,address,raw_um,calibrated_um,quality\r\n"
            "2026-03-09T08:00:00.000+01:00,1,12,100,101,90\r\n";
        QVERIFY(QDir().mkdir(QStringLiteral("records")));
        QVERIFY(files::write(QStringLiteral("records/2026-03-09.csv"), old));
        CapturingLog log;
        RecordWriter writer(&log);
        const QDateTime evening(QDate(2026, 3, 9), QTime(23, 59, 59, 500), Qt::OffsetFromUTC, 3600);
        Record judged = records::makeRecord(evening, {1}, 12, 110, 107.5f, 90);
        judged.verdict = records::Verdict::Above;
        judged.lowerUm = 95;
        judged.upperUm = 105.5f;
        QVERIFY(writer.append(judged));
        judged.msecs += 1000;
        QVERIFY(writer.append(judged));
        QCOMPARE(files::read(QStringLiteral("records/2026-03-09.csv")),
                 old + "2026-03-09T23:59:59.500+01:00,1,12,110,107.5,90\r\n");
        QCOMPARE(files::read(QStringLiteral("records/2026-03-10.csv")),
                 records::header() +
                     "2026-03-10T00:00:00.500+01:00,1,12,110,107.5,90,above,95,105.5\r\n");

        // A crash tore the last line; the next session appends.
        QFile file(QStringLiteral("records/2026-03-09.csv"));
        QVERIFY(file.open(QIODevice::Append));
        QVERIFY(file.write("2026-03-09T23:59:59.600+01:00,2,13,1,2") > 0);
        file.close();
        RecordWriter next(&log);
        QVERIFY(next.append(evening.addMSecs(200), {2}, 13, 1.0f, 5.0f, 3));
        QVERIFY(log.lines.isEmpty());
        QSignalSpy keeping(&next, &RecordWriter::keepingChanged);
        failFlushes = true;
        QVERIFY(next.append(evening.addMSecs(300), {2}, 13, 1.0f, 6.0f, 3));
        const bool told = keeping.wait(5000);
        failFlushes = false;
        QVERIFY(told);
        QCOMPARE(keeping.first().at(0).toBool(), false);
        // The line before is flushed some milliseconds after it was written: on a busy machine
        // the failing disk may take its flush too, alone or with this one.
        const QString reason = keeping.first().at(1).toString();
        QVERIFY2(reason.contains("2026-03-09T23:59:59.800+01:00") ||
                     reason.contains("2026-03-09T23:59:59.700+01:00 may not"),
                 qPrintable(reason));
        QVERIFY(next.append(evening.addMSecs(400), {2}, 13, 1.0f, 7.0f, 3));
        QVERIFY(next.keeping());
        const auto read = records::readDays(QStringLiteral("records"), {2026, 3, 9}, {2026, 3, 10});
        QCOMPARE(int(read.records.size()), 6);
        QCOMPARE(read.skipped, qint64(1));
        QCOMPARE(read.records[1].verdict, records::Verdict::None);
        QCOMPARE(read.records[2].calibrated, 5.0f);
        QCOMPARE(read.records[4].calibrated, 7.0f);
        QCOMPARE(read.records[5].verdict, records::Verdict::Above);
        QCOMPARE(read.records[5].upperUm, 105.5f);
    }

    void spoiltFolder_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("a file where the folder should be") << "file";
        QTest::newRow("disk full") << "full";
        QTest::newRow("read-only") << "read-only";
    }

    // Lines that do not fit are lost whole, the log says why at level 0, and writing resumes
    // once there is room.
    void spoiltFolder()
    {
        QFETCH(QString, mode);
        int exitCode = 0;
        const QByteArray output =
            runSelf({QStringLiteral("--spoilt-records"), mode}, 10000, exitCode);
        if (exitCode == skipExitCode)
            QSKIP("mount namespaces are not allowed here, so no folder can be spoilt");
        QVERIFY2(exitCode == 0, "the run failed, crashed or hung");
        const QList<QByteArray> seen = output.trimmed().split('|');
        // Written, the changes told, the values read back, the lines skipped.
        QCOMPARE(seen.mid(0, 4).join('|'), QByteArray("3|lost,kept|5,6,7|0"));
        QVERIFY2(
            seen.value(4).startsWith("0 Records not kept: ") && seen.value(4).contains("records"),
            seen.value(4).constData());
        QCOMPARE(seen.value(5), QByteArray("0 Records kept again"));
    }

    // Killed while appending as fast as it can, the writer leaves a file that reads: at most the
    // last line is lost, and the next session's lines are whole.
    void killedMidWrite()
    {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--append-forever")});
        QVERIFY(child.waitForReadyRead(10000));
        QTest::qWait(QRandomGenerator::global()->bounded(5, 50));
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(5000));
        const QDate today = QDate::currentDate();
        m::DummyLog log;
        RecordWriter next(&log);
        QVERIFY(next.append(QDateTime::currentDateTime(), {2}, 13, 1, 2, 3));
        const auto read = records::readDays(QStringLiteral("records"), today, today);
        QVERIFY(read.skipped <= 1);
        QVERIFY(read.records.size() > 50);
        for (size_t i = 0; i + 1 < read.records.size(); ++i) {
            QCOMPARE(read.records[i].calibrated, float(i));
            QCOMPARE(records::formatChannels(read.records[i].channels), QByteArray("1;3"));
        }
        QCOMPARE(read.records.back().address, uint8_t(13));
    }

    // Series and statistics per channel and address, never of two probes that changed places on
    // a channel (a record of two panels in both, one of none in its own), statistics by hand, a
    // live record kept only on a shown day, and an export that reads back as the records shown.
    // A probe's nan or inf, from the file or live, is neither drawn nor counted but told apart.
    void model()
    {
        const float inf = std::numeric_limits<float>::infinity();
        history::Model model;
        records::ReadResult read;
        read.records = {record("2026-03-09T10:00:02.000+01:00", {1, 3}, 12, 1, 10, 9),
                        record("2026-03-09T10:00:01.000+01:00", {1}, 12, 1, std::nanf(""), 9),
                        record("2026-03-09T10:00:00.000+01:00", {1}, 12, 1, 20, 9),
                        record("2026-03-09T10:00:00.500+01:00", {1}, 12, 1, inf, 9),
                        record("2026-03-08T10:00:00.000+01:00", {3}, 14, 1, 30, 9),
                        record("2026-03-08T11:00:00.000+01:00", {}, 12, 1, 50, 9)};
        read.skipped = 4;
        model.set(read, {2026, 3, 8}, {2026, 3, 9});
        QCOMPARE(model.skipped(), qint64(4));
        QCOMPARE(model.series({1, 12}).y, (std::vector<double>{20, 10}));
        QCOMPARE(model.series({3, 14}).y, (std::vector<double>{30}));
        QCOMPARE(model.series({3, 12}).y, (std::vector<double>{10}));
        QVERIFY(model.series({2, 12}).x.empty());
        QCOMPARE(model.statistics({2, 12}).count, qint64(0));
        QCOMPARE(model.keys(),
                 (std::vector<history::SeriesKey>{{0, 12}, {1, 12}, {3, 12}, {3, 14}}));
        QCOMPARE(history::Model::legend({0, 12}), QStringLiteral("Без канала, адрес 12"));

        using Added = history::Model::Added;
        QCOMPARE(model.add(record("2026-03-10T00:00:00.000+01:00", {1}, 12, 1, 99, 9)),
                 Added::NotShown);
        QCOMPARE(model.add(record("2026-03-09T10:00:03.000+01:00", {1}, 12, 1, 30, 9)),
                 Added::AtEnd);
        QCOMPARE(model.add(record("2026-03-09T09:00:00.000+01:00", {1}, 12, 1, 40, 9)),
                 Added::Inserted);
        QCOMPARE(model.add(record("2026-03-09T10:00:04.000+01:00", {1}, 12, 1, -inf, 9)),
                 Added::AtEnd);
        const quality::Statistics one = model.statistics({1, 12});
        QCOMPARE(one.count, qint64(4));
        QCOMPARE(one.notFinite, qint64(3));
        QCOMPARE(one.mean, 25.0);
        QCOMPARE(one.stddev, std::sqrt(500.0 / 3));
        QCOMPARE(one.min, 10.0);
        QCOMPARE(one.max, 40.0);
        QCOMPARE(model.series({1, 12}).y, (std::vector<double>{40, 20, 10, 30}));

        QBuffer out;
        QVERIFY(out.open(QIODevice::WriteOnly));
        QVERIFY(model.exportCsv(out));
        QVERIFY(out.data().startsWith(records::header()));
        const auto back = readBytes(out.data(), QDate());
        QCOMPARE(back.skipped, qint64(0));
        QCOMPARE(back.records.size(), model.records().size());
        for (size_t i = 0; i < back.records.size(); ++i)
            QVERIFY(same(back.records[i], model.records()[i]));

        history::TableModel table(&model);
        table.reset();
        QCOMPARE(table.rowCount(), 9);
        QCOMPARE(table.index(0, 0).data().toString(), QStringLiteral("2026-03-08 10:00:00.000"));
        QCOMPARE(table.index(6, 1).data().toString(), QStringLiteral("1;3"));
        QCOMPARE(table.index(6, 4).data().toString(), QStringLiteral("10"));
    }

    // A year of one channel drawn 800 pixels wide: few points, and every bucket's extremes kept,
    // so that no spike is lost and none is invented. The line breaks where the values pause, and
    // only there: the picks of one column lie hours apart without any gap between them.
    void reduction()
    {
        history::Series series;
        QRandomGenerator random(5);
        for (int i = 0; i < 125000; ++i) {
            series.x.push_back(1e12 + 60000.0 * (i < 60000 ? i : i + 1000));
            series.y.push_back(100 + random.bounded(1.0));
        }
        series.y[77777] = 500;
        series.y[88888] = -5;
        series.gap = history::gapOf(series);
        QCOMPARE(series.gap, 300000.0);
        history::Reduced reduced;
        const QVector<QPointF> &points = reduced.points;
        const double from = series.x[1000] + 1, to = series.x[120000];
        history::reduce(series, from, to, 800, reduced);
        QVERIFY(points.size() <= 4 * 800 + 2);
        QCOMPARE(points.first().x(), series.x[1000]);
        QCOMPARE(points.last().x(), series.x[120001]);
        QCOMPARE(reduced.breaks.size(), 1);
        QCOMPARE(points[reduced.breaks.front() - 1].x(), series.x[59999]);
        QCOMPARE(points[reduced.breaks.front()].x(), series.x[60000]);
        double highest = 0, lowest = 1000;
        for (int i = 0; i < points.size(); ++i) {
            if (i > 0)
                QVERIFY(points[i].x() > points[i - 1].x());
            const auto at = std::lower_bound(series.x.begin(), series.x.end(), points[i].x());
            QCOMPARE(points[i].y(), series.y[size_t(at - series.x.begin())]);
            highest = std::max(highest, points[i].y());
            lowest = std::min(lowest, points[i].y());
        }
        QCOMPARE(highest, 500.0);
        QCOMPARE(lowest, -5.0);
        history::reduce(series, series.x[10], series.x[20], 800, reduced);
        QCOMPARE(points.size(), 11 + 2);
        history::reduce(series, from, from, 800, reduced);
        QVERIFY(points.isEmpty());
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--spoilt-records") == 0)
        return runSpoiltRecords(argc, argv, argv[2]);
    if (argc == 2 && qstrcmp(argv[1], "--append-forever") == 0)
        return runAppendForever(argc, argv);
    QCoreApplication app(argc, argv);
    TestRecords test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_records.moc"
