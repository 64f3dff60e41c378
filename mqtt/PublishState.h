#pragma once

#include <QMetaType>
#include <QString>

namespace mqtt {

struct PublishState
{
    bool connected = false;
    // Why there is no connection; empty while connecting the first time.
    QString reason;
    // Records after the cursor: not yet acknowledged by the broker.
    qint64 waiting = 0;

    bool operator==(const PublishState &other) const
    {
        return connected == other.connected && reason == other.reason && waiting == other.waiting;
    }
    bool operator!=(const PublishState &other) const { return !(*this == other); }
};

}  // namespace mqtt

Q_DECLARE_METATYPE(mqtt::PublishState)
