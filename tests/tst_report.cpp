#include "quality/ReportContent.h"
#include "records/Record.h"
#include "report/ReportDocument.h"
#include "support/Files.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QDateTime start = QDateTime::fromString("2026-12-08T08:00:00Z", Qt::ISODate);

// The text a reader of the PDF gets, line layout kept so that a table's row stays one line.
QString pdfText(const QString &path)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"),
                  {QStringLiteral("-layout"), path, QStringLiteral("-")});
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return QStringLiteral("pdftotext failed: ") + process.readAllStandardError();
    return QString::fromUtf8(process.readAllStandardOutput());
}

}  // namespace

class TestReport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pdfSaysWhatTheRecordsSay();
    void commandLine_data();
    void commandLine();

private:
    QTemporaryDir dir;
    quality::ReportRequest request;
};

void TestReport::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath("records"));
    QByteArray day = records::header();
    // Channel 3: 99, 100, 101 repeated, and one value of 107.25 above the limits.
    for (int i = 0; i < 30; ++i) {
        const float value = i == 17 ? 107.25f : float(99 + i % 3);
        day += records::formatLine(
            records::makeRecord(start.addSecs(60 * i), {3}, 14, value, value, 0));
    }
    // Then every channel from a probe at 1, 90 .. 110, whose trends push the tables onto later
    // pages.
    for (int i = 0; i < 400; ++i) {
        const float value = float(90 + i % 21);
        day += records::formatLine(records::makeRecord(
            start.addSecs(3601 + i), {1, 2, 3, 4, 5, 6, 7, 8}, 1, value, value, 0));
    }
    // Another day's line and a torn one are skipped and counted.
    day += "2026-12-09T08:00:00.000Z,3,14,1,1,1\r\n2026-12-08T09:00:00.000Z,3,14,1";
    QVERIFY(files::write(dir.filePath("records/2026-12-08.csv"), day));
    // Of the calibrations only the one of the day and of a channel asked for is shown; a line
    // that does not read is passed over, and a torn last one is not read, though its fields do.
    QVERIFY(files::write(dir.filePath("records/calibration.csv"),
                         quality::journalHeader() +
                             "2026-12-07T08:10:00.000Z,3,14,zero,,early\r\n"
                             "2026-12-08T08:00:00.000Z,3,14,ze\r\n"
                             "2026-12-08T08:10:00.000Z,3,14,point,100.5,no response\r\n"
                             "2026-12-08T08:20:00.000Z,2,1,reset,,Busy\r\n"
                             "2026-12-08T08:30:00.000Z,3,14,reset,,Busy"));
    QVERIFY(files::write(dir.filePath("limits.ini"),
                         "[channel3]\nnominal=100\nlower=97.5\nupper=102.5\n"));

    request.recordsFolder = dir.filePath("records");
    request.from = QDateTime::fromString("2026-12-08T00:00:00Z", Qt::ISODate);
    request.to = QDateTime::fromString("2026-12-08T23:59:59Z", Qt::ISODate);
    for (auto &limits : request.limits)
        limits = quality::Limits{100, 95, 105};
    request.limits[2] = quality::Limits{100, 97.5, 102.5};
    request.channels = {1, 3, 4, 5, 6, 7, 8};
    request.fields = {QStringLiteral("З-1742"), QStringLiteral("П-07"), QStringLiteral("Линия 2"),
                      QStringLiteral("Петров А. В.")};
}

void TestReport::pdfSaysWhatTheRecordsSay()
{
    const QString path = dir.filePath("report.pdf");
    const quality::ReportContent content = quality::gatherReport(request);
    QVERIFY(ReportDocument(content, QDateTime::fromString("2026-12-09T07:30:00", Qt::ISODate))
                .writePdf(path));
    const QString text = pdfText(path);
    const QString flat = text.simplified();
    // Header fields in the order a QA form has them.
    QVERIFY2(flat.contains(QRegularExpression(
                 "Заказ: З-1742.*Партия: П-07.*Линия: Линия 2.*Оператор: Петров А\\. В\\.")),
             qPrintable(text));
    // Statistics row of channel 3: count, mean, out-of-tolerance share (1 of 30).
    const QRegularExpression row(
        QStringLiteral("\\n\\s*3\\s+14\\s+97\\.50 … 102\\.50\\s+30\\s+"
                       "100\\.21\\s+\\S+\\s+99\\.00\\s+107\\.25\\s+3\\.3 %"));
    QVERIFY2(row.match(text).hasMatch(), qPrintable(text));
    // The value out of tolerance, with its time and direction.
    QVERIFY2(flat.contains("2026-12-08 08:17:00 3 14 107.25 97.50 … 102.50 ▲ выше"),
             qPrintable(text));
    // The calibration and what the probe answered.
    QVERIFY2(flat.contains("Мера 100.50 no response") && !flat.contains("early") &&
                 !flat.contains("Bus"),
             qPrintable(text));
    // The probe at 1 has a row of its own on channel 3; channel 2 was not asked for.
    QVERIFY2(text.contains(QRegularExpression("\\n\\s*3\\s+1\\s+97\\.50 … 102\\.50\\s+400\\s")) &&
                 !text.contains(QRegularExpression("\\n\\s*2\\s+1\\s")),
             qPrintable(text));
    QVERIFY2(flat.contains("Пропущено строк: 2"), qPrintable(text));
    QVERIFY2(flat.contains("T7R Demo 1.1.1 · напечатано 2026-12-09 07:30"), qPrintable(text));
    // Each page numbered, of the right total, and no table row lost at a page break.
    const int pages = text.count(QLatin1Char('\f'));
    QVERIFY2(pages >= 3, qPrintable(text));
    for (int page = 1; page <= pages; ++page)
        QVERIFY2(text.contains(QStringLiteral("Страница %1 из %2").arg(page).arg(pages)),
                 qPrintable(QString::number(page)));
    QCOMPARE(text.count(QStringLiteral("▼ ниже")) + text.count(QStringLiteral("▲ выше")),
             quality::listedOutOfTolerance);
    QVERIFY(flat.contains(QStringLiteral("Всего вне допуска: %1, показаны первые %2")
                              .arg(content.outOfToleranceCount)
                              .arg(quality::listedOutOfTolerance)));
}

void TestReport::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("limits");
    QTest::addColumn<int>("exitCode");

    const QByteArray good = "[channel3]\nlower=97.5\nupper=102.5\n";
    const QStringList day{"--from", "2026-12-08", "--to", "2026-12-08"};
    const auto row = [&good](const char *name, const QStringList &arguments, int exitCode,
                             const QByteArray &limits = {}) {
        QTest::newRow(name) << arguments << (limits.isEmpty() ? good : limits) << exitCode;
    };
    row("a day", day, 0);
    row("times, the value out of tolerance before them",
        {"--from", "2026-12-08T08:20", "--to", "2026-12-08T09:00"}, 0);
    row("no --to", {"--from", "2026-12-08"}, 2);
    row("not a date", {"--from", "08.12.2026", "--to", "2026-12-08"}, 2);
    row("backwards", {"--from", "2026-12-09", "--to", "2026-12-08"}, 2);
    row("channel 9", day + QStringList{"--channels", "3,9"}, 2);
    row("a folder that is not there", day + QStringList{"--out", "missing/r.pdf"}, 1);
    row("malformed limits", day, 2, "[channel3]\nlower=102.5\nupper=97.5\n");
}

void TestReport::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, limits);
    QFETCH(int, exitCode);

    QVERIFY(files::write(dir.filePath("limits.ini"), limits));
    const QString out = dir.filePath("cli.pdf");
    QFile::remove(out);
    QProcess cli;
    cli.setWorkingDirectory(dir.path());
    // No display at all: the report must not need one.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    environment.insert("TZ", "UTC");
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(CLI_PATH),
              QStringList{"report", "--out", out} + arguments + QStringList{"--order", "З-9"});
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), exitCode);
    QCOMPARE(QFileInfo(out).size() > 0, exitCode == 0);
    if (exitCode == 0) {
        const QString text = pdfText(out).simplified();
        QVERIFY2(text.contains("Заказ: З-9"), qPrintable(text));
        const bool wholeDay = arguments.value(1) == "2026-12-08";
        QVERIFY2(text.contains("107.25") == wholeDay, qPrintable(text));
        QVERIFY2(text.contains(wholeDay ? "Период: 2026-12-08 00:00 — 2026-12-08 23:59"
                                        : "Период: 2026-12-08 08:20 — 2026-12-08 09:00"),
                 qPrintable(text));
    } else {
        QVERIFY(!cli.readAllStandardError().isEmpty());
    }
}

QTEST_MAIN(TestReport)
#include "tst_report.moc"
