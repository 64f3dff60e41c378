#include "app/OrvaUI.h"

#include "settings/Settings.h"
#include "ui/ProbePanels.h"

#include <QLocale>
#include <QMetaType>
#include <QPixmap>

#include <vector>

// The picture is compiled into this static library; naming its initialiser here keeps the
// linker from dropping it. It is registered before main runs and unregistered at exit.
static int registerPicture()
{
    Q_INIT_RESOURCE(OrvaUI);
    return 0;
}
[[maybe_unused]] static const int pictureRegistered = registerPicture();

namespace {

constexpr int portPollMs = 500;

}  // namespace

OrvaUI::OrvaUI(QWidget *parent) : QMainWindow(parent), log(&fileLog), commands(&serial, &fileLog)
{
    ui.setupUi(this);

    qRegisterMetaType<std::vector<uint32_t>>("std::vector<uint32_t>");
    qRegisterMetaType<uint8_t>("uint8_t");
    qRegisterMetaType<uint32_t>("uint32_t");
    qRegisterMetaType<OstraCommands::Config>("OstraCommands::Config");

    setWindowTitle(QStringLiteral("T7R Demo v1.1.1"));
    QLocale::setDefault(QLocale(QStringLiteral("ru_RU")));

    delay = readSettings().delay;
    m::writeLine(log, 0, QStringLiteral("Delay: ") + QString::number(uint32_t(delay)));
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
    buildDevicesMenu();
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

    connectPanelButtons(&ProbePanel::reset, &OrvaUI::resetCalibration_Slot);
    connectPanelButtons(&ProbePanel::zero, &OrvaUI::setZeroPoint_Slot);
    connectPanelButtons(&ProbePanel::measure, &OrvaUI::setMeasurePoint_Slot);
}

// A click judges the address field as it stands at that moment, whatever the panel's state.
void OrvaUI::connectPanelButtons(QPushButton *ProbePanel::*button, void (OrvaUI::*action)(uint8_t))
{
    const auto panels = probePanels(ui);
    for (int probe = 0; probe < probeCount; ++probe) {
        QPushButton *sender = panels[probe].*button;
        connect(
            sender, &QPushButton::clicked, sender,
            [this, probe, action] {
                if (const auto addr = probeAddress(probe))
                    (this->*action)(*addr);
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
