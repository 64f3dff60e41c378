#include "app/OrvaUI.h"
#include "serial/PortHolder.h"

#include <QSettings>

namespace {

const QString portItem = QStringLiteral("port");
const QString lastPortKey = QStringLiteral("lastPort");

QSettings userSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("T7R"),
                     QStringLiteral("t7r-demo"));
}

struct Reason
{
    QString shown;
    QString logged;
    QString tip;
};

// The serial library reports a port held by another program as a permission error too: on
// Linux as a lock file or EBUSY, on Windows as "access denied", which there means exactly that.
Reason reasonOf(QSerialPort::SerialPortError error, const QString &detail, const QString &port)
{
    const Reason notFound{QStringLiteral("не найден"), QStringLiteral("not found"), QString()};
    const Reason busy{QStringLiteral("занят другой программой"), QStringLiteral("busy"),
                      QStringLiteral("Порт открыт другой программой: закройте её "
                                     "(README, раздел о последовательном порте).")};
    // On Debian the serial devices belong to the group dialout: a user outside it is told so.
    const Reason denied{QStringLiteral("нет доступа (группа dialout)"),
                        QStringLiteral("permission denied"),
                        QStringLiteral("Нет прав на порт: добавьте пользователя в группу "
                                       "dialout (README, раздел о последовательном порте).")};
    switch (error) {
        case QSerialPort::DeviceNotFoundError:
        case QSerialPort::ResourceError:
        case QSerialPort::ReadError:
        case QSerialPort::WriteError:
            return notFound;
        case QSerialPort::PermissionError:
            return portHeldByAnother(port) ? busy : denied;
        default:
            return {QStringLiteral("ошибка порта"), QStringLiteral("port error"), detail};
    }
}

}  // namespace

QString OrvaUI::userSettingsPath()
{
    return userSettings().fileName();
}

void OrvaUI::showConnected()
{
    // The name as the list shows it, so that the list can offer it again.
    state->setItem(portItem, portName + QStringLiteral(": подключен"));
    userSettings().setValue(lastPortKey, portName);
}

void OrvaUI::showNotConnected(QSerialPort::SerialPortError error, const QString &detail)
{
    const Reason reason = reasonOf(error, detail, portName);
    const QString name = portName.isEmpty() ? QStringLiteral("Порт не выбран") : portName;
    state->setItem(portItem, name + QStringLiteral(": не подключен, ") + reason.shown, reason.tip);
    m::writeLine(log, 0,
                 QStringLiteral("Reason: ") + reason.logged + QStringLiteral(" (") + detail +
                     QLatin1Char(')'));
}

// The port the operator last connected to is taken again whenever the list offers it.
void OrvaUI::preselectPort()
{
    const QString last = userSettings().value(lastPortKey).toString();
    const int index = last.isEmpty() ? -1 : ui.cb_ports->findText(last);
    if (index >= 0)
        ui.cb_ports->setCurrentIndex(index);
}
