#include "mqtt/Payload.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

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
    // operator typed one address into two panels, and none for an address that no probe line of
    // settings.cfg holds (t7r-cli).
    int channel = 1;
    while (channel <= records::channelCount && !record.hasChannel(channel))
        ++channel;
    // JSON has no NaN or infinity: a value that is not finite is null, as it is no measurement.
    const auto number = [](float value) {
        return std::isfinite(value) ? records::formatFloat(value) : QByteArrayLiteral("null");
    };
    QByteArray json;
    json.reserve(200);
    json += "{\"time\":\"";
    json += records::formatTime(record.msecs, record.offsetSecs);
    json += "\",\"station\":";
    json += station;
    json += ",\"channel\":";
    json +=
        channel <= records::channelCount ? QByteArray::number(channel) : QByteArrayLiteral("null");
    json += ",\"address\":";
    json += QByteArray::number(record.address);
    json += ",\"raw_um\":";
    json += number(record.raw);
    json += ",\"calibrated_um\":";
    json += number(record.calibrated);
    json += ",\"quality\":";
    json += QByteArray::number(record.quality);
    json += ",\"sequence\":";
    json += QByteArray::number(sequence);
    json += '}';
    return json;
}

}  // namespace mqtt
