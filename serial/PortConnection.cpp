#include "app/OrvaUI.h"
#include "logging/SysTime.h"
#include "protocol/ProbeLine.h"
#include "serial/LowLatency.h"
#include "serial/PortList.h"

#include <QSerialPortInfo>
#include <QSignalBlocker>

namespace {

QStringList portNames(const QList<QSerialPortInfo> &ports)
{
    QStringList names;
    for (const QSerialPortInfo &port : ports)
        names.append(port.portName());
    return names;
}

}  // namespace

void OrvaUI::checkConnection_Slot()
{
    // The ports seen by the previous poll; one list for the whole process.
    static QStringList knownPorts;

    if (!portWatch.mayHaveChanged())
        return;
    // One enumeration serves both the test and the refill, so the box shows exactly the list
    // that the next poll compares against.
    const QStringList ports = portNames(QSerialPortInfo::availablePorts());
    if (portListChanged(knownPorts, ports)) {
        ui.cb_ports->clear();
        ui.cb_ports->addItems(ports);
    }
    knownPorts = ports;
}

void OrvaUI::serialConnect_Slot()
{
    portName = ui.cb_ports->currentText();
    closePort();
    serial.setPortName(portName);
    serial.setBaudRate(probeline::baudRate);
    if (serial.open(QIODevice::ReadWrite)) {
        linkHealth.reset();
        if (const char *line = lowlatency::logLine(lowlatency::request(serial)); *line)
            log->write(1, line);
        ui.statusBar->showMessage(QStringLiteral("Устройство подключено"), 5000);
        m::writeLine(log, 0, QStringLiteral("Device Connected"));
        checkConnectionTimer.stop();
        ui.pb_line_meas_update_air->setEnabled(true);
        ui.pb_line_meas_get->setEnabled(true);
        showConnected();
        emit portEventsHub.opened();
    } else {
        ui.statusBar->showMessage(QStringLiteral("Устройство не подключено"), 5000);
        m::writeLine(log, 0, QStringLiteral("Device not connected"));
        // With no port open the list must follow the adapters, or a failed reconnect would
        // leave the operator nothing to pick but names that have gone.
        if (!checkConnectionTimer.isActive())
            checkConnectionTimer.start();
        showNotConnected(serial.error(), serial.errorString());
    }
}

void OrvaUI::closePort()
{
    // Rounds on a closed or lost line would only fill the log with nothing.
    if (continuous && continuous->isRunning()) {
        continuous->stop();
        emit portEventsHub.continuousInterrupted(continuous->intervalMs());
    }
    // Closing a dead line reports its failure once more; that report must not re-enter
    // portError while the port is half closed.
    const bool wasOpen = serial.isOpen();
    {
        const QSignalBlocker quiet(serial);
        serial.close();
    }
    if (wasOpen)
        emit portEventsHub.closed();
}

void OrvaUI::disconnectPort()
{
    if (!serial.isOpen()) {
        ui.statusBar->showMessage(QStringLiteral("Устройство не подключено"), 5000);
        return;
    }
    closePort();
    ui.statusBar->showMessage(QStringLiteral("Устройство отключено"), 5000);
    m::writeLine(log, 0, QStringLiteral("Device disconnected"));
    state->setItem(QStringLiteral("port"), portName + QStringLiteral(": отключен"));
    // The list follows the adapters again, as after any closing.
    checkConnectionTimer.start();
}

void OrvaUI::portError(QSerialPort::SerialPortError error)
{
    // A read that found nothing is not a lost device: LinkHealth tells the two apart.
    if (!serial.isOpen() || !linkHealth.lost(error, SysTime().nowMs().value))
        return;
    const QString detail = serial.errorString();
    closePort();
    ui.statusBar->showMessage(QStringLiteral("Устройство не подключено"), 5000);
    m::writeLine(log, 0, QStringLiteral("Device not connected"));
    showNotConnected(error, detail);
    // The adapter may come back under another name: the list must follow it again.
    checkConnectionTimer.start();
}
