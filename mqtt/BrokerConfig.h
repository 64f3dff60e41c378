#pragma once

#include <QString>

#include <optional>

namespace mqtt {

// Where and how to publish: the window's "Публикация…" and t7r-cli's --mqtt options alike.
struct BrokerConfig
{
    QString url;
    QString station;
    QString prefix = QStringLiteral("t7r");
    QString caFile;
    QString user;
    QString passwordFile;
};

// mqtt://host[:port] or mqtts://host[:port]; nothing else is taken, so a slip in the URL is
// told at once instead of as a connection that never comes.
struct BrokerAddress
{
    bool tls = false;
    QString host;
    int port = 0;
};

std::optional<BrokerAddress> parseBrokerUrl(const QString &url, QString *error = nullptr);

// The host's name, which names the station unless told otherwise.
QString defaultStation();

// A topic level may hold neither the wildcards nor the separator.
bool validTopicLevel(const QString &text);

// The first line of the file. A file that the group or others may read is refused: the
// password would be anyone's on the machine.
std::optional<QString> readPasswordFile(const QString &path, QString *error);

// publish.cfg in the working folder, beside settings.cfg; an absent file gives no URL.
BrokerConfig loadBrokerConfig(const QString &path = QStringLiteral("publish.cfg"));
bool saveBrokerConfig(const BrokerConfig &config,
                      const QString &path = QStringLiteral("publish.cfg"));

// Everything a connection needs, checked: the address and the password, read once.
struct CheckedConfig
{
    BrokerConfig config;
    BrokerAddress address;
    QString password;
};

std::optional<CheckedConfig> checkConfig(const BrokerConfig &config, QString *error);

}  // namespace mqtt
