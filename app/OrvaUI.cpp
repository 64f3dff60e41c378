#include "app/OrvaUI.h"

#include "Version.h"
#include "icon/AppIcon.h"
#include "protocol/FieldRules.h"
#include "settings/Settings.h"
#include "ui/ContinuousResume.h"
#include "ui/FormFit.h"
#include "ui/OperationReports.h"
#include "ui/Publishing.h"
#include "ui/SettingsFile.h"
#include "ui/StaleValues.h"

#include <QLocale>
#include <QMetaType>
#include <QPixmap>

// The picture is compiled into this static library; naming its initialiser here keeps the
// linker from dropping it. It is registered before main runs and unregistered at exit.
static int registerPicture()
{
    Q_INIT_RESOURCE(OrvaUI);
    return 0;
}
[[maybe_unused]] static const int pictureRegistered = registerPicture();

constexpr int portPollMs = 500;

OrvaUI::OrvaUI(QWidget *parent) : QMainWindow(parent), log(&fileLog), commands(&serial, &fileLog)
{
    ui.setupUi(this);
    formfit::fit(this, ui);

    qRegisterMetaType<std::vector<uint32_t>>("std::vector<uint32_t>");
    qRegisterMetaType<uint8_t>("uint8_t");
    qRegisterMetaType<uint32_t>("uint32_t");
    qRegisterMetaType<OstraCommands::Config>("OstraCommands::Config");

    setWindowTitle(QStringLiteral("T7R Demo v" T7R_VERSION));
    setWindowIcon(appicon::windowIcon());
    QLocale::setDefault(QLocale(QStringLiteral("ru_RU")));

    const Settings settings = readSettings();
    delay = settings.delay;
    m::writeLine(log, 0, QStringLiteral("Delay: ") + QString::number(uint32_t(delay)));
    // The file is read as it always was, but a record that was not used is no longer silent.
    if (!settings.mismatch.isEmpty())
        m::writeLine(log, 0, settings.mismatch);
    addrToProbe = readAddrToProbe(log);
    probeToAddr = readProbeToAddr(log);

    connect(&checkConnectionTimer, &QTimer::timeout, this, &OrvaUI::checkConnection_Slot);
    checkConnectionTimer.start(portPollMs);
    connect(ui.pb_connect, &QPushButton::clicked, this, &OrvaUI::serialConnect_Slot);
    connectSignals();
    connectAddressFields();
    connect(&serial, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { portError(error); });

    ui.label_2->setPixmap(QPixmap(QStringLiteral(":/OrvaUI/addr.png")));

    state = new StateField(ui.statusBar);
    ui.statusBar->addPermanentWidget(state);
    state->setItem(QStringLiteral("port"), QStringLiteral("Порт не подключен"));
    menus = new OperatorMenus(this, recordWriter.directory(), userSettingsPath());
    tolerance = new ToleranceWatch(ui, *state, log, this);
    connect(&commands, &OstraCommands::exchangeFinished_Signal, &summaries,
            &OperationSummaries::outcome);
    new OperationReports(summaries, ui.statusBar, *state, *tolerance, ui.pb_line_meas_get->text(),
                         this);
    setUpKeyboard();
    prefillAddresses();
    connect(ui.cb_ports->model(), &QAbstractItemModel::rowsInserted, this,
            [this] { preselectPort(); });
    historyPage = new HistoryPage(ui.tabWidget, recordWriter, *tolerance);
    // The records' state is the window's: it shows in the status bar whatever page is open.
    connect(&recordWriter, &RecordWriter::keepingChanged, this,
            [this](bool keeping, const QString &reason) {
                state->setItem(QStringLiteral("records"),
                               keeping ? QString() : QStringLiteral("Записи не сохраняются"),
                               reason);
            });
    buildDevicesMenu();
    tolerance->loadLimits();
    tolerance->addActions(this);
    connect(&commands, &OstraCommands::exchangeFinished_Signal, tolerance,
            &ToleranceWatch::exchangeFinished);
    publishing = std::make_unique<Publishing>(menus->fileMenu(), *state, recordWriter, log, this);
    new SettingsFile(this, settings);
    new ContinuousResume(this);
    new StaleValues(this);
}

OrvaUI::~OrvaUI()
{
    // Members go in reverse order, the log before the port: a dead line's last error report
    // must find nobody to write to.
    closePort();
}

void OrvaUI::closeEvent(QCloseEvent *event)
{
    if (serial.isOpen())
        closePort();
    event->accept();
}

void OrvaUI::connectSignals()
{
    connect(ui.pb_line_meas_update_air, &QPushButton::clicked, this, &OrvaUI::updateAirCode_Slot);
    connect(ui.pb_line_meas_get, &QPushButton::clicked, this, &OrvaUI::getLineMeasResult_Slot);
    connect(&commands, &OstraCommands::newMeasurement_Signal, this, &OrvaUI::newMeasurement_Slot);
    connect(&summaries, &OperationSummaries::unanswered_Signal, this,
            [this](int channel, frames::Command command) {
                if (command == frames::Command::GetMeasurementResult)
                    resultUnanswered(channel);
            });

    connectPanelButtons(&ProbePanel::reset, &OrvaUI::resetCalibration_Slot,
                        frames::Command::ResetCalibration);
    connectPanelButtons(&ProbePanel::zero, &OrvaUI::setZeroPoint_Slot,
                        frames::Command::SetZeroPoint);
    connectPanelButtons(&ProbePanel::measure, &OrvaUI::setMeasurePoint_Slot,
                        frames::Command::SetMeasurePoint);
}

// A click judges the address field as it stands at that moment, whatever the panel's state.
// Each click is an operation of one command, summed up when its answer is judged.
void OrvaUI::connectPanelButtons(QPushButton *ProbePanel::*button, void (OrvaUI::*action)(uint8_t),
                                 frames::Command command)
{
    const auto panels = probePanels(ui);
    for (int probe = 0; probe < probeCount; ++probe) {
        QPushButton *sender = panels[probe].*button;
        connect(
            sender, &QPushButton::clicked, sender,
            [this, probe, action, command, name = sender->text()] {
                const auto addr = probeAddress(probe);
                if (!addr)
                    return;
                // A refused measure value sends nothing: there is nothing to sum up.
                const bool sends = command != frames::Command::SetMeasurePoint ||
                                   fieldrules::parseMeasureValue(ui.le_line_meas_setpoint->text());
                const int round = sends ? summaries.begin(name) : 0;
                if (sends) {
                    summaries.expect(round);
                    announce(round, probe, command);
                    if (serial.isOpen())
                        tolerance->calibrationIssued(
                            probe + 1, command, *addr,
                            fieldrules::parseMeasureValue(ui.le_line_meas_setpoint->text()));
                }
                (this->*action)(*addr);
                summaries.close(round);
            },
            Qt::DirectConnection);
    }
}

void OrvaUI::connectAddressFields()
{
    const auto panels = probePanels(ui);
    for (int probe = 0; probe < probeCount; ++probe) {
        connect(
            panels[probe].address, &QLineEdit::editingFinished, panels[probe].address,
            [this, probe] { addressEdited(probe); }, Qt::DirectConnection);
    }
}
