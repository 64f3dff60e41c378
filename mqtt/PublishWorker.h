#pragma once

#include "mqtt/BrokerConfig.h"
#include "mqtt/Payload.h"
#include "mqtt/PublishState.h"
#include "mqtt/RecordQueue.h"

#include <QObject>
#include <QTimer>

#include <deque>

struct mosquitto;

namespace mqtt {

// The publisher's half on its own thread: reads the records after the cursor and hands them
// to libmosquitto, whose network thread does the talking. Each connection gets a client of its
// own; when it fails, the records not acknowledged are sent again by the next one, from the
// cursor, so that nothing depends on what a lost client still held.
class PublishWorker : public QObject
{
    Q_OBJECT

public:
    PublishWorker(const CheckedConfig &config, const QString &recordsFolder);
    ~PublishWorker() override;

    void start();
    void recordsAdded();
    // Sends what waits for at most `waitMs` while connected (or connecting), then says
    // "offline", goes, and signals finished.
    void finish(int waitMs);

signals:
    void stateChanged(const mqtt::PublishState &state);
    void finished();

private:
    struct Session;
    struct Sent
    {
        int mid;
        Position after;
        bool acked;
    };

    void connectNow();
    void connected(int generation, int code);
    void disconnected(int generation, int code);
    void acknowledged(int generation, int mid);
    void libraryError(int generation, const QString &text);
    void pump();
    void dropClient();
    void failed(const QString &reason);
    void setState(bool connected, const QString &reason);
    void stateSoon();
    void finishWhenDone();
    void endFinishing();

    CheckedConfig config;
    RecordQueue queue;
    QString cursorPath;
    Topics topics;
    QByteArray stationJson;
    QByteArray willPayload = "offline";
    mosquitto *client = nullptr;
    Session *session = nullptr;
    int generation = 0;
    bool online = false;
    bool finishing = false;
    bool ended = false;
    Position cursor;
    Position readPos;
    std::deque<Sent> inFlight;
    int statusMid = -1;
    bool statusAcked = false;
    PublishState state;
    qint64 waiting = 0;
    int retryDelayS = 1;
    QTimer retryTimer{this};
    QTimer connectTimeout{this};
    QTimer cursorSave{this};
    QTimer stateTimer{this};
    QTimer finishDeadline{this};
    QTimer statusDeadline{this};
    Position savedCursor;
};

}  // namespace mqtt
