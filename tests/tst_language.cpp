#include "app/OrvaUI.h"
#include "support/Files.h"
#include "support/WindowSuite.h"
#include "ui/QtTranslation.h"
#include "ui/SecondsDialog.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

// One language and one decimal separator in a Russian window: Qt's own buttons in Russian,
// and the numbers we ask for read alike with a point or a comma, whatever the locale.
class TestLanguage : public QObject
{
    Q_OBJECT

    QTemporaryDir workDir;
    std::unique_ptr<window::Bench> bench;

    SecondsDialog *openIntervalDialog(OrvaUI &window)
    {
        window::choosePort(window, bench->line.slavePath());
        if (!window.port().isOpen())
            return nullptr;
        window.findChild<QAction *>(QStringLiteral("action_continuous_measurement"))->trigger();
        return window.findChild<SecondsDialog *>(QStringLiteral("continuousInterval"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(workDir.isValid() && QDir::setCurrent(workDir.path()));
        QVERIFY(files::write(QStringLiteral("settings.cfg"),
                             files::settings(std::vector<int>{12, 13}, 20)));
        QVERIFY(installQtTranslations(qApp));
    }

    void init()
    {
        bench = std::make_unique<window::Bench>(std::vector<int>{12, 13});
        QVERIFY2(bench->open(), qPrintable(bench->line.errorString()));
    }

    void cleanup() { bench.reset(); }

    // Typed and confirmed with Enter, as an operator does; German takes a point for a digit group.
    // The dialog's own buttons are Qt's, in Russian; the thickness field keeps its point, and
    // says so.
    void intervalSeparators_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("typed");
        for (const char *locale : {"ru_RU", "C", "de_DE", "en_US"}) {
            for (const char *typed : {"5.5", "5,5", "12"})
                QTest::addRow("%s %s", locale, typed) << locale << typed;
        }
    }

    void intervalSeparators()
    {
        QFETCH(QString, locale);
        QFETCH(QString, typed);
        const QString started = QStringLiteral("каждые %1 мс").arg(typed == "12" ? 12000 : 5500);
        QCOMPARE(QLocale().name(), QStringLiteral("ru_RU"));
        OrvaUI window;
        QVERIFY(window.ui.le_line_meas_setpoint->toolTip().contains(QStringLiteral("точкой")));
        SecondsDialog *dialog = openIntervalDialog(window);
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->text(),
                 QStringLiteral("Отмена"));
        DecimalSpinBox *seconds = dialog->spinBox();
        seconds->setLocale(QLocale(locale));
        seconds->selectAll();
        QTest::keyClicks(seconds, typed);
        QTest::keyClick(seconds, Qt::Key_Return);
        QVERIFY(window.continuousMeasurement().isRunning());
        QVERIFY2(window.stateField().item(QStringLiteral("continuous")).endsWith(started),
                 qPrintable(window.stateField().item(QStringLiteral("continuous"))));
        window.continuousMeasurement().stop();
    }
};

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
