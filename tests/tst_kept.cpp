#include "app/OrvaUI.h"
#include "settings/Settings.h"
#include "settings/SettingsWriter.h"
#include "support/Files.h"
#include "support/WindowSuite.h"
#include "ui/ProbePanels.h"
#include "ui/SecondsDialog.h"

#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

using namespace window;

// What the operator set is kept: the address fields go to settings.cfg on request and only
// then, and a settings.cfg the window could not use is said on screen.
class TestKept : public Suite
{
    Q_OBJECT

    const QByteArray startRecord =
        files::settings({"12", "13", "14", "15", "16", "17", "18", "19"}, "35", "ttyS0");

private slots:
    // No probes on the line unless a test puts them there.
    void init()
    {
        QFile::remove(QStringLiteral("settings.cfg.bak"));
        QVERIFY(files::write(QStringLiteral("settings.cfg"), startRecord));
    }

    void saveAddresses_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<QString>("refusal");
        const auto record = [](const std::vector<uint8_t> &addresses) {
            return settingswriter::record("ttyS0", addresses, 35);
        };
        QTest::newRow("as a scan leaves them")
            << QStringList{"20", "0", "255"} << record({20, 0, 255}) << QString();
        QTest::newRow("all eight") << QStringList{"1", "2", "3", "4", "5", "6", "7", "8"}
                                   << record({1, 2, 3, 4, 5, 6, 7, 8}) << QString();
        QTest::newRow("none") << QStringList{} << record({}) << QString();
        QTest::newRow("a gap") << QStringList{"20", "", "22"} << QByteArray()
                               << "Канал 2 без адреса, а канал 3 с адресом: адреса сохраняются "
                                  "подряд с канала 1";
        QTest::newRow("no byte") << QStringList{"20", "256"} << QByteArray()
                                 << "Не корректный адрес, канал 2";
    }

    // The delay in use and the file's port stay; the old file is kept beside; a refusal
    // leaves the file alone. Typing alone never writes it.
    void saveAddresses()
    {
        QFETCH(QStringList, fields);
        QFETCH(QByteArray, saved);
        QFETCH(QString, refusal);
        OrvaUI window;
        for (int probe = 1; probe <= probeCount; ++probe)
            typeAddress(window, probe, fields.value(probe - 1));
        QCOMPARE(files::read(QStringLiteral("settings.cfg")), startRecord);
        window.findChild<QAction *>(QStringLiteral("actionSaveAddresses"))->trigger();
        auto *box = window.findChild<QMessageBox *>(QStringLiteral("settingsNotSaved"));
        QCOMPARE(box && box->isVisible() ? box->text() : QString(), refusal);
        QCOMPARE(files::read(QStringLiteral("settings.cfg")),
                 refusal.isEmpty() ? saved : startRecord);
        QCOMPARE(QFile::exists(QStringLiteral("settings.cfg.bak")), refusal.isEmpty());
        if (refusal.isEmpty()) {
            QCOMPARE(files::read(QStringLiteral("settings.cfg.bak")), startRecord);
            QCOMPARE(files::logMessages().last().left(31),
                     QStringLiteral("0 Addresses saved to settings.c"));
        }
    }

    // Said in the state field, with the line, and in a box over the window; a save of the
    // addresses mends the file, at the delay the window runs with.
    void mismatchShown()
    {
        QVERIFY(files::write(QStringLiteral("settings.cfg"),
                             files::settings(std::vector<int>{12, 13}, 35)));
        OrvaUI window;
        window.show();
        // Logged with the defaults the window runs with instead.
        const QStringList log = files::logMessages();
        QCOMPARE(log.mid(log.size() - 2),
                 (QStringList{"0 Delay: 190",
                              "0 settings.cfg line 4 \"Delay=35\" does not match "
                              "Probe3=<address>: the defaults are in use (Delay: 190)"}));
        QCOMPARE(window.stateField().item(QStringLiteral("settings")),
                 QStringLiteral("settings.cfg не по образцу, строка 4"));
        QMessageBox *box = nullptr;
        QTRY_VERIFY((box = window.findChild<QMessageBox *>("settingsMismatch")) &&
                    box->isVisible());
        QVERIFY2(box->text().contains(QStringLiteral("\"Delay=35\" does not match Probe3")),
                 qPrintable(box->text()));
        box->accept();

        window.findChild<QAction *>(QStringLiteral("actionSaveAddresses"))->trigger();
        QCOMPARE(window.stateField().item(QStringLiteral("settings")), QString());
        const Settings now = readSettings();
        QVERIFY(now.mismatch.isEmpty());
        QCOMPARE(now.delay, 190);
    }

    void resumeAfterPortBack_data()
    {
        QTest::addColumn<bool>("resume");
        QTest::newRow("resumed") << true;
        QTest::newRow("left stopped") << false;
    }

    // A measurement the port's loss stopped is offered again once the port is back, and runs
    // again at its interval only if the operator says so. The interval is offered again, after a
    // restart too.
    void resumeAfterPortBack()
    {
        QFETCH(bool, resume);
        auto probes = std::make_unique<Bench>(std::vector<int>{12});
        QVERIFY(probes->open());
        std::optional<OrvaUI> window(std::in_place);
        QVERIFY(choosePort(*window, probes->line.slavePath()));
        QAction *action =
            window->findChild<QAction *>(QStringLiteral("action_continuous_measurement"));
        window->continuousMeasurement().start(6100);
        QVERIFY(window->continuousMeasurement().isRunning() && action->isChecked());
        QCOMPARE(window->stateField().item(QStringLiteral("continuous")),
                 QStringLiteral("Непрерывное измерение, каждые 6100 мс"));
        probes->pull();
        QTRY_VERIFY_WITH_TIMEOUT(!window->port().isOpen(), 5000);
        QVERIFY(!window->continuousMeasurement().isRunning() && !action->isChecked());
        QVERIFY(window->stateField().item(QStringLiteral("continuous")).isEmpty());
        QVERIFY(!window->findChild<QMessageBox *>(QStringLiteral("continuousResume")));

        // Plugged in again, under another name.
        probes = std::make_unique<Bench>(std::vector<int>{12});
        QVERIFY(probes->open());
        QVERIFY(choosePort(*window, probes->line.slavePath()));
        auto *box = window->findChild<QMessageBox *>(QStringLiteral("continuousResume"));
        QVERIFY(box && box->isVisible());
        QVERIFY2(box->text().contains(QStringLiteral("каждые 6100 мс")), qPrintable(box->text()));
        box->button(resume ? QMessageBox::Yes : QMessageBox::No)->click();
        QCOMPARE(window->continuousMeasurement().isRunning(), resume);
        if (resume)
            QCOMPARE(window->continuousMeasurement().intervalMs(), 6100);
        window.emplace();
        QVERIFY(choosePort(*window, probes->line.slavePath()));
        window->findChild<QAction *>(QStringLiteral("action_continuous_measurement"))->trigger();
        auto *dialog = window->findChild<SecondsDialog *>(QStringLiteral("continuousInterval"));
        QVERIFY(dialog);
        QCOMPARE(dialog->spinBox()->value(), 6.1);
    }
};

QTEST_MAIN(TestKept)
#include "tst_kept.moc"
