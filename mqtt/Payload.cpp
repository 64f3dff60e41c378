#include "mqtt/Payload.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace mqtt {

Topics::Topics(const QString &prefix, const QString &station)
    : base(prefix.toUtf8() + '/' + station.toUtf8() + '/')
{
    measurement = base + "measurement";
    status = base + "status";
}

QByteArray Topics::last(uint8_t address) const
{
    return base + "probe/" + QByteArray::number(address) + "/last";
}

QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray measurementJson(const records::Record &record, const QByteArray &station,
                           quint64 sequence)
{
    // The lowest panel that shows the address: a record names more than one only when the
    // operator typed one address into two panels.
    int channel = 1;
    while (channel < records::channelCount && !record.hasChannel(channel))
        ++channel;
    QByteArray json;
    json.reserve(200);
    json += "{\"time\":\"";
    json += records::formatTime(record.msecs, record.offsetSecs);
    json += "\",\"station\":";
    json += station;
    json += ",\"channel\":";
    json += QByteArray::number(channel);
    json += ",\"address\":";
    json += QByteArray::number(record.address);
    json += ",\"raw_um\":";
    json += records::formatFloat(record.raw);
    json += ",\"calibrated_um\":";
    json += records::formatFloat(record.calibrated);
    json += ",\"quality\":";
    json += QByteArray::number(record.quality);
    json += ",\"sequence\":";
    json += QByteArray::number(sequence);
    json += '}';
    return json;
}

}  // namespace mqtt
