#include "records/Record.h"
#include "support/Files.h"
#include "support/WindowSuite.h"
#include "ui/HistoryTab.h"

#include <QDateEdit>
#include <QTableView>
#include <QTableWidget>

#include <QtTest>

using namespace window;

namespace {

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

}  // namespace

// The window's records and its history page: a folder that cannot be written, and what the page
// reads back, after a restart and while the line works.
class TestWindowRecords : public Suite
{
    Q_OBJECT

private slots:
    // A folder that cannot be written is shown in the state field, and keeping resumes by
    // itself. A new session keeps the records; the history page, built only when first shown,
    // has them in its chart and table, and takes the next result live. A date typed field by
    // field reloads the page once, when the typing is done.
    void historyAfterRestart()
    {
        QVERIFY(QDir(QStringLiteral("records")).removeRecursively());
        QVERIFY(files::write(QStringLiteral("records"), "in the way"));
        {
            // The fields hold settings.cfg's addresses.
            OrvaUI window;
            window.newMeasurement_Slot(12, 1, 2, 3);
            QCOMPARE(window.stateField().item(QStringLiteral("records")),
                     QStringLiteral("Записи не сохраняются"));
            QVERIFY(files::logMessages().last().startsWith(QStringLiteral("0 Records not kept: ")));
            QVERIFY(QFile::remove(QStringLiteral("records")));
            for (int i = 0; i < probeCount; ++i)
                window.newMeasurement_Slot(uint8_t(busAddresses[size_t(i)]), 1, 100.0f + float(i),
                                           9);
            QVERIFY(window.stateField().item(QStringLiteral("records")).isEmpty());
            QVERIFY(window.records().keeping());
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
        // summary need only account for all eight. Nothing of the round kept may be refused.
        QVERIFY2(round.summaries.size() == 1 &&
                     round.summaries.first().startsWith(window.ui.pb_line_meas_get->text() +
                                                        ": приборов 8, успешно "),
                 qPrintable(round.summaries.first()));
        const QStringList log = files::logMessages();
        QVERIFY(log.mid(round.logFrom).filter(QStringLiteral("Packet not sended")).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!history->isLoading(), 20000);
        const int results = int(log.filter(QStringLiteral("Get Measurement Result OK")).size());
        QCOMPARE(int(history->model().records().size()), lines + results);
    }
};

QTEST_MAIN(TestWindowRecords)
#include "tst_window_records.moc"
