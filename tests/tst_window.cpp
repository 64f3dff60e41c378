#include "serial/PortList.h"
#include "tst_window_helpers.h"
#include "ui/FieldRules.h"
#include "ui/Schedule.h"

#include <QMenuBar>
#include <QMetaMethod>
#include <QSequentialIterable>
#include <QToolBar>

#include <climits>
#include <optional>

using namespace windowtest;

using OptionalAddress = std::optional<uint8_t>;
using OptionalFloat = std::optional<float>;
Q_DECLARE_METATYPE(OptionalAddress)
Q_DECLARE_METATYPE(OptionalFloat)

// The window without a serial line: what the operator sees, what the fields accept, when the
// workflows would fire, and what reaches the log.
class TestWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir workDir;
    const QByteArray eightProbes = settingsFile({12, 13, 14, 15, 16, 17, 18, 19}, 20);

private slots:
    void initTestCase()
    {
        QVERIFY(enterWorkDirectory(workDir));
        QVERIFY(writeSettings(eightProbes));
    }

    void startState()
    {
        OrvaUI window;
        QCOMPARE(window.windowTitle(), QStringLiteral("T7R Demo v1.1.1"));
        QCOMPARE(QLocale().name(), QStringLiteral("ru_RU"));
        QCOMPARE(window.ui.tabWidget->tabText(0), QStringLiteral("Измерения"));
        QVERIFY(window.menuBar()->actions().isEmpty());
        QVERIFY(window.ui.mainToolBar->actions().isEmpty());
        QCOMPARE(window.ui.label_2->pixmap(Qt::ReturnByValue).size(), QSize(105, 284));
        QVERIFY(!window.ui.pb_line_meas_update_air->isEnabled());
        QVERIFY(!window.ui.pb_line_meas_get->isEnabled());
        QVERIFY(window.ui.cb_ports->isEnabled() && window.ui.pb_connect->isEnabled());
        QVERIFY(window.ui.le_line_meas_setpoint->isEnabled());
        QVERIFY(!window.ui.le_line_meas_setpoint->isReadOnly());
        for (const ProbePanel &panel : probePanels(window.ui)) {
            QVERIFY(panel.address->isEnabled() && !panel.address->isReadOnly());
            QVERIFY(panel.address->text().isEmpty() && panel.value->isReadOnly());
            for (QWidget *control : panel.controls())
                QVERIFY2(!control->isEnabled(), qPrintable(control->objectName()));
        }
        QVERIFY(window.portPoll().isActive());
    }

    // Invoking a method by index must reach the slot that the index names.
    void slotsAndTypes()
    {
        OrvaUI window;
        const QMetaObject *meta = window.metaObject();
        QCOMPARE(meta->className(), "OrvaUI");
        QList<QByteArray> signatures;
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            QCOMPARE(meta->method(i).methodType(), QMetaMethod::Slot);
            signatures << meta->method(i).methodSignature();
        }
        QCOMPARE(signatures,
                 (QList<QByteArray>{"closeEvent(QCloseEvent*)", "checkConnection_Slot()",
                                    "serialConnect_Slot()", "test_Slot()", "updateAirCode_Slot()",
                                    "checkAirCode_Slot()", "startLineMeas_Slot()",
                                    "getLineMeasResult_Slot()", "resetCalibration_Slot(uint8_t)",
                                    "setZeroPoint_Slot(uint8_t)", "setMeasurePoint_Slot(uint8_t)",
                                    "newMeasurement_Slot(uint8_t,float,float,uint8_t)"}));

        QCOMPARE(QMetaType::type("uint8_t"), int(QMetaType::UChar));
        QCOMPARE(QMetaType::type("uint32_t"), int(QMetaType::UInt));
        QCOMPARE(QMetaType::sizeOf(QMetaType::type("OstraCommands::Config")), 8);
        const QVariant integrals = QVariant::fromValue(std::vector<uint32_t>{1, 2, 3});
        QCOMPARE(QMetaType::type("std::vector<uint32_t>"), integrals.userType());
        QCOMPARE(integrals.value<QSequentialIterable>().size(), 3);
    }

    void delayLine_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("firstLine");
        QTest::newRow("from the file") << eightProbes << "0 Delay: 20";
        QTest::newRow("no usable record") << QByteArray("Delay=20") << "0 Delay: 190";
        QTest::newRow("empty file") << QByteArray() << "0 Delay: 190";
    }

    void delayLine()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QString, firstLine);
        QVERIFY(writeSettings(settings));
        const OrvaUI window;
        QVERIFY(writeSettings(eightProbes));
        QCOMPARE(logMessages().value(0), firstLine);
    }

    void addressRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<OptionalAddress>("address");
        QTest::newRow("12") << "12" << OptionalAddress(12);
        QTest::newRow("0 is a device") << "0" << OptionalAddress(0);
        QTest::newRow("255") << "255" << OptionalAddress(255);
        QTest::newRow("256 names no device") << "256" << OptionalAddress();
        QTest::newRow("300 names no device") << "300" << OptionalAddress();
        QTest::newRow("beyond 32 bits") << "4294967340" << OptionalAddress();
        QTest::newRow("negative") << "-1" << OptionalAddress();
        QTest::newRow("empty") << "" << OptionalAddress();
        QTest::newRow("letters") << "12a" << OptionalAddress();
        QTest::newRow("fraction") << "1.0" << OptionalAddress();
    }

    // The rule decides whether a panel is usable once its edit is finished, and whether a
    // click sends, judging the field as it stands at the click.
    void addressRule()
    {
        QFETCH(QString, text);
        QFETCH(OptionalAddress, address);
        QCOMPARE(fieldrules::parseProbeAddress(text), address);
        OrvaUI window;
        window.ui.le_line_meas_setpoint->setText(QStringLiteral("12.5"));
        for (int probe = 1; probe <= probeCount; ++probe) {
            const ProbePanel controls = panel(window, probe);
            typeAddress(window, probe, QStringLiteral("7"));
            controls.address->setText(text);
            window.statusBar()->clearMessage();
            QTest::mouseClick(
                std::array{controls.zero, controls.measure, controls.reset}[probe % 3],
                Qt::LeftButton);
            QCOMPARE(
                window.statusBar()->currentMessage(),
                address ? QString() : QStringLiteral("Не корректный адрес, канал %1").arg(probe));
            QTest::keyClick(controls.address, Qt::Key_Return);
            for (QWidget *control : controls.controls())
                QCOMPARE(control->isEnabled(), address.has_value());
        }
    }

    void measureRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<OptionalFloat>("value");
        QTest::newRow("point") << "12.5" << OptionalFloat(12.5f);
        QTest::newRow("comma, whatever the locale") << "12,5" << OptionalFloat();
        QTest::newRow("empty") << "" << OptionalFloat();
        QTest::newRow("nan") << "nan" << OptionalFloat();
        QTest::newRow("-inf") << "-inf" << OptionalFloat();
        QTest::newRow("beyond float") << "1e39" << OptionalFloat();
    }

    void measureRule()
    {
        QFETCH(QString, text);
        QFETCH(OptionalFloat, value);
        QLocale::setDefault(QLocale(QStringLiteral("ru_RU")));
        QCOMPARE(fieldrules::parseMeasureValue(text), value);
    }

    void schedule_data()
    {
        QTest::addColumn<int>("delay");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("result");
        for (int i = 0; i < probeCount; ++i) {
            QTest::addRow("190, probe %d", i + 1)
                << 190 << i << 190 * i << 285 * i << 2280 + 285 * i;
        }
        QTest::newRow("half milliseconds truncate") << 1 << 7 << 7 << 10 << 22;
        QTest::newRow("odd delay") << 3 << 1 << 3 << 4 << 40;
        QTest::newRow("zero delay") << 0 << 7 << 0 << 0 << 0;
        QTest::newRow("huge delay clamps") << INT_MAX << 7 << INT_MAX << INT_MAX << INT_MAX;
        QTest::newRow("negative delay is unsigned") << -5 << 1 << INT_MAX << INT_MAX << INT_MAX;
        QTest::newRow("just below the limit") << 178956970 << 0 << 0 << 0 << 2147483640;
        QTest::newRow("just above the limit") << 178956971 << 0 << 0 << 0 << INT_MAX;
    }

    void schedule()
    {
        QFETCH(int, delay);
        QFETCH(int, position);
        QFETCH(int, command);
        QFETCH(int, start);
        QFETCH(int, result);
        QCOMPARE(schedule::commandInterval(delay, position), command);
        QCOMPARE(schedule::measurementStartInterval(delay, position), start);
        QCOMPARE(schedule::measurementResultInterval(delay, position), result);
    }

    void portListRule_data()
    {
        QTest::addColumn<QStringList>("known");
        QTest::addColumn<QStringList>("current");
        QTest::addColumn<bool>("changed");
        QTest::newRow("none") << QStringList() << QStringList() << false;
        QTest::newRow("same") << QStringList{"COM1", "COM3"} << QStringList{"COM1", "COM3"}
                              << false;
        QTest::newRow("plugged in") << QStringList() << QStringList{"COM3"} << true;
        QTest::newRow("pulled") << QStringList{"COM1", "COM3"} << QStringList{"COM1"} << true;
        QTest::newRow("replaced") << QStringList{"COM1", "COM3"} << QStringList{"COM1", "COM4"}
                                  << true;
        QTest::newRow("COM1 where COM10 was")
            << QStringList{"COM10"} << QStringList{"COM1"} << true;
        QTest::newRow("COM10 where COM1 was")
            << QStringList{"COM1"} << QStringList{"COM10"} << true;
    }

    void portListRule()
    {
        QFETCH(QStringList, known);
        QFETCH(QStringList, current);
        QFETCH(bool, changed);
        QCOMPARE(portListChanged(known, current), changed);
    }

    void resultDisplay_data()
    {
        QTest::addColumn<int>("addr");
        QTest::addColumn<float>("um");
        QTest::addColumn<float>("umCalib");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("worked example, two panels")
            << 5 << 123.456f << 120.04f
            << QStringList{"-", "120.0", "-", "-", "-", "120.0", "-", "-"}
            << "1 Raw: 123.456 Calibrated: 120.04 Quality: 7";
        QTest::newRow("address 0")
            << 0 << 2.0f << 1.96f << QStringList{"-", "-", "-", "-", "-", "-", "-", "2.0"}
            << "1 Raw: 2 Calibrated: 1.96 Quality: 7";
        QTest::newRow("300 is not 44")
            << 44 << 1.0f << 1.0f << QStringList{"-", "-", "-", "-", "-", "-", "-", "-"}
            << "1 Raw: 1 Calibrated: 1 Quality: 7";
        QTest::newRow("no grouping, no comma")
            << 7 << 0.0000125f << 1234567.0f
            << QStringList{"-", "-", "-", "-", "1234567.0", "-", "-", "-"}
            << "1 Raw: 1.25e-05 Calibrated: 1.23457e+06 Quality: 7";
    }

    // Results are shown under the Russian default locale, yet with a decimal point.
    void resultDisplay()
    {
        QFETCH(int, addr);
        QFETCH(float, um);
        QFETCH(float, umCalib);
        QFETCH(QStringList, shown);
        QFETCH(QString, logLine);
        OrvaUI window;
        const QStringList fields{"1", "5", "abc", "", "7", "5", "300", "0"};
        for (int probe = 1; probe <= probeCount; ++probe) {
            panel(window, probe).address->setText(fields[probe - 1]);
            panel(window, probe).value->setText(QStringLiteral("-"));
        }
        QVERIFY(QMetaObject::invokeMethod(&window, "newMeasurement_Slot",
                                          Q_ARG(uint8_t, uint8_t(addr)), Q_ARG(float, um),
                                          Q_ARG(float, umCalib), Q_ARG(uint8_t, 7)));
        QCOMPARE(panelValues(window), shown);
        QCOMPARE(logMessages().last(), logLine);
        QVERIFY(window.statusBar()->currentMessage().isEmpty());
    }

    // A new measurement must not leave the previous value beside it; a skipped probe keeps its
    // value and the message names the last invalid field.
    void measurementClearsValues()
    {
        OrvaUI window;
        const QStringList fields{"1", "2", "x", "4", "5", "", "7", "8"};
        for (int probe = 1; probe <= probeCount; ++probe) {
            panel(window, probe).address->setText(fields[probe - 1]);
            panel(window, probe).value->setText(QStringLiteral("9.9"));
        }
        QVERIFY(QMetaObject::invokeMethod(&window, "getLineMeasResult_Slot"));
        QCOMPARE(panelValues(window), (QStringList{"", "", "9.9", "", "", "9.9", "", ""}));
        QCOMPARE(window.statusBar()->currentMessage(),
                 QStringLiteral("Не корректный адрес, канал 6"));
    }

    // Without a port the window keeps searching; the workflow buttons stay locked.
    void connectFailure()
    {
        OrvaUI window;
        for (const QString &port : {QStringLiteral("/nonexistent/ttyT7R"), QString()}) {
            window.ui.cb_ports->clear();
            window.ui.cb_ports->addItem(port);
            QTest::mouseClick(window.ui.pb_connect, Qt::LeftButton);
            QCOMPARE(window.statusBar()->currentMessage(),
                     QStringLiteral("Устройство не подключено"));
            QCOMPARE(logMessages().last(), QStringLiteral("0 Device not connected"));
        }
        QCOMPARE(logMessages().count(QStringLiteral("0 Device not connected")), 2);
        QVERIFY(!window.port().isOpen() && window.portPoll().isActive());
        QVERIFY(!window.ui.pb_line_meas_update_air->isEnabled());
        QVERIFY(!window.ui.pb_line_meas_get->isEnabled());
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
