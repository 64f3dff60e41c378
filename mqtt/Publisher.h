#pragma once

#include "logging/ILog.h"
#include "mqtt/BrokerConfig.h"
#include "mqtt/PublishState.h"

#include <QObject>
#include <QThread>

namespace mqtt {

class PublishWorker;

// Publishes every record of a records folder to an MQTT broker, in order, from where the
// broker last acknowledged, then live as records are added. Everything slow (looking up the
// host, reading a backlog, the network) happens on threads of its own: the caller's thread,
// the window's or the line's, only ever posts a word and receives the state.
class Publisher : public QObject
{
    Q_OBJECT

public:
    Publisher(const CheckedConfig &config, const QString &recordsFolder, m::ifc::ILog *log,
              QObject *parent = nullptr);
    ~Publisher() override;

    // A record was appended to the folder.
    void recordsAdded();
    // Sends what waits for at most `waitMs` while connected, then says "offline" and ends.
    void finish(int waitMs);

    PublishState state() const { return current; }
    QString url() const { return brokerUrl; }
    // The state field's item: "MQTT: соединение есть" and the like.
    static QString describe(const PublishState &state);

signals:
    void stateChanged(const mqtt::PublishState &state);

private:
    void received(const PublishState &state);

    m::ifc::ILog *log;
    QString brokerUrl;
    QThread thread;
    PublishWorker *worker;
    PublishState current;
    bool finished = false;
};

}  // namespace mqtt
