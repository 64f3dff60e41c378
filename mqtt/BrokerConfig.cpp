#include "mqtt/BrokerConfig.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSysInfo>
#include <QUrl>

namespace mqtt {

std::optional<BrokerAddress> parseBrokerUrl(const QString &url, QString *error)
{
    const auto fail = [&](const QString &why) -> std::optional<BrokerAddress> {
        if (error)
            *error = QStringLiteral("'%1': %2").arg(url, why);
        return std::nullopt;
    };
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid())
        return fail(QStringLiteral("not a URL"));
    BrokerAddress address;
    if (parsed.scheme() == QLatin1String("mqtts"))
        address.tls = true;
    else if (parsed.scheme() != QLatin1String("mqtt"))
        return fail(QStringLiteral("not mqtt://host:port or mqtts://host:port"));
    address.host = parsed.host();
    if (address.host.isEmpty())
        return fail(QStringLiteral("no host"));
    if (!parsed.userInfo().isEmpty())
        return fail(QStringLiteral("the user goes to its own option, the password to a file"));
    if (!parsed.path().isEmpty() && parsed.path() != QLatin1String("/"))
        return fail(QStringLiteral("a broker URL has no path"));
    if (parsed.hasQuery() || parsed.hasFragment())
        return fail(QStringLiteral("a broker URL has no query"));
    address.port = parsed.port(address.tls ? 8883 : 1883);
    if (address.port < 1)
        return fail(QStringLiteral("port 0"));
    return address;
}

QString defaultStation()
{
    const QString host = QSysInfo::machineHostName();
    return validTopicLevel(host) ? host : QStringLiteral("station");
}

bool validTopicLevel(const QString &text)
{
    return !text.isEmpty() && !text.contains(QLatin1Char('/')) &&
           !text.contains(QLatin1Char('+')) && !text.contains(QLatin1Char('#')) &&
           !text.contains(QChar(0));
}

std::optional<QString> readPasswordFile(const QString &path, QString *error)
{
    const QFileInfo info(path);
    // Mode bits, not access(): root may read anything, yet the file still tells others.
    const auto othersMay = QFileDevice::ReadGroup | QFileDevice::ReadOther |
                           QFileDevice::WriteGroup | QFileDevice::WriteOther;
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("password file %1: cannot be read").arg(path);
        return std::nullopt;
    }
#ifndef Q_OS_WIN
    if (info.permissions() & othersMay) {
        *error =
            QStringLiteral("password file %1: the group or others may read it; chmod 600 %1 first")
                .arg(path);
        return std::nullopt;
    }
#endif
    return QString::fromUtf8(file.readLine(4096))
        .remove(QLatin1Char('\n'))
        .remove(QLatin1Char('\r'));
}

BrokerConfig loadBrokerConfig(const QString &path)
{
    const QSettings file(path, QSettings::IniFormat);
    BrokerConfig config;
    config.url = file.value(QStringLiteral("url")).toString();
    config.station = file.value(QStringLiteral("station")).toString();
    config.prefix = file.value(QStringLiteral("prefix"), config.prefix).toString();
    config.caFile = file.value(QStringLiteral("ca")).toString();
    config.user = file.value(QStringLiteral("user")).toString();
    config.passwordFile = file.value(QStringLiteral("password_file")).toString();
    return config;
}

bool saveBrokerConfig(const BrokerConfig &config, const QString &path)
{
    QSettings file(path, QSettings::IniFormat);
    file.setValue(QStringLiteral("url"), config.url);
    file.setValue(QStringLiteral("station"), config.station);
    file.setValue(QStringLiteral("prefix"), config.prefix);
    file.setValue(QStringLiteral("ca"), config.caFile);
    file.setValue(QStringLiteral("user"), config.user);
    file.setValue(QStringLiteral("password_file"), config.passwordFile);
    file.sync();
    return file.status() == QSettings::NoError;
}

std::optional<CheckedConfig> checkConfig(const BrokerConfig &config, QString *error)
{
    CheckedConfig checked;
    checked.config = config;
    const auto address = parseBrokerUrl(config.url, error);
    if (!address)
        return std::nullopt;
    checked.address = *address;
    if (checked.config.station.isEmpty())
        checked.config.station = defaultStation();
    if (checked.config.prefix.isEmpty())
        checked.config.prefix = QStringLiteral("t7r");
    if (!validTopicLevel(checked.config.station)) {
        *error = QStringLiteral("station '%1': no '/', '+' or '#'").arg(checked.config.station);
        return std::nullopt;
    }
    if (checked.config.prefix.contains(QLatin1Char('+')) ||
        checked.config.prefix.contains(QLatin1Char('#'))) {
        *error = QStringLiteral("prefix '%1': no '+' or '#'").arg(checked.config.prefix);
        return std::nullopt;
    }
    if (!config.caFile.isEmpty() && !QFileInfo(config.caFile).isReadable()) {
        *error = QStringLiteral("CA file %1: cannot be read").arg(config.caFile);
        return std::nullopt;
    }
    if (!config.passwordFile.isEmpty()) {
        const auto password = readPasswordFile(config.passwordFile, error);
        if (!password)
            return std::nullopt;
        checked.password = *password;
    }
    return checked;
}

}  // namespace mqtt
