#include "mqtt/PublishWorker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

namespace mqtt {

namespace {

// Records handed to the client and not yet acknowledged: enough to fill a local link's round
// trip many times over, few enough that a lost connection resends little.
constexpr int window = 1000;
constexpr int keepaliveS = 30;
constexpr int longestRetryS = 30;
// A broker that neither answers nor refuses: a firewall that drops, a wrong port behind NAT.
constexpr int connectTimeoutMs = 15000;
// The cursor is saved this long after an acknowledgement, not at each one: a crash in between
// costs duplicates, which receivers drop by station and sequence number.
constexpr int cursorSaveMs = 200;
constexpr int stateUpdateMs = 250;

QString connackReason(int code)
{
    switch (code) {
        case 4:
            return QStringLiteral("login failed: bad user name or password");
        case 5:
            return QStringLiteral("login failed: not authorised");
        default:
            return QString::fromUtf8(mosquitto_connack_string(code));
    }
}

}  // namespace

// What the network thread's callbacks need: the worker, and which client they come from, so
// that a late word from a dropped client is not taken for the current one's.
struct PublishWorker::Session
{
    PublishWorker *worker;
    int generation;
    // The library's last error line, kept as it is written (on either thread), since a failure
    // may be told before the line's queued copy arrives.
    std::mutex mutex;
    QString lastError;

    QString takeError()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return lastError;
    }
};

PublishWorker::PublishWorker(const CheckedConfig &config, const QString &recordsFolder)
    : config(config),
      queue(recordsFolder),
      cursorPath(recordsFolder + QStringLiteral("/publish.cursor")),
      topics(config.config.prefix, config.config.station),
      stationJson(jsonString(config.config.station))
{
    retryTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, &PublishWorker::connectNow);
    connectTimeout.setSingleShot(true);
    connect(&connectTimeout, &QTimer::timeout, this,
            [this] { failed(QStringLiteral("no answer from the broker")); });
    cursorSave.setSingleShot(true);
    connect(&cursorSave, &QTimer::timeout, this, [this] {
        if (!(cursor == savedCursor) && saveCursor(cursorPath, cursor))
            savedCursor = cursor;
    });
    for (QTimer *timer : {&finishDeadline, &statusDeadline}) {
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, &PublishWorker::finishWhenDone);
    }
    stateTimer.setSingleShot(true);
    connect(&stateTimer, &QTimer::timeout, this, [this] { setState(online, state.reason); });
}

PublishWorker::~PublishWorker()
{
    dropClient();
}

void PublishWorker::start()
{
    QDir().mkpath(QFileInfo(cursorPath).path());
    const auto saved = loadCursor(cursorPath);
    // A folder published for the first time is published from now on, not from its first day.
    cursor = saved ? *saved : queue.end();
    if (!saved || !(cursor == *saved))
        saveCursor(cursorPath, cursor);
    savedCursor = cursor;
    readPos = cursor;
    waiting = queue.count(cursor);
    setState(false, QString());
    connectNow();
}

void PublishWorker::recordsAdded()
{
    ++waiting;
    if (online)
        pump();
    stateSoon();
}

void PublishWorker::connectNow()
{
    dropClient();
    if (finishing)
        return;
    ++generation;
    session = new Session{this, generation, {}, {}};
    client = mosquitto_new(nullptr, true, session);
    if (!client) {
        failed(QStringLiteral("out of memory"));
        return;
    }
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_max_inflight_messages_set(client, window + 10);
    // The client must not come back by itself: each connection is this worker's, from the
    // cursor. An hour is never waited out, since a failure drops the client at once.
    mosquitto_reconnect_delay_set(client, 3600, 3600, false);
    mosquitto_connect_callback_set(client, [](mosquitto *, void *data, int code) {
        const auto *s = static_cast<Session *>(data);
        QMetaObject::invokeMethod(
            s->worker, [w = s->worker, g = s->generation, code] { w->connected(g, code); },
            Qt::QueuedConnection);
    });
    mosquitto_disconnect_callback_set(client, [](mosquitto *, void *data, int code) {
        const auto *s = static_cast<Session *>(data);
        QMetaObject::invokeMethod(
            s->worker, [w = s->worker, g = s->generation, code] { w->disconnected(g, code); },
            Qt::QueuedConnection);
    });
    mosquitto_publish_callback_set(client, [](mosquitto *, void *data, int mid) {
        const auto *s = static_cast<Session *>(data);
        QMetaObject::invokeMethod(
            s->worker, [w = s->worker, g = s->generation, mid] { w->acknowledged(g, mid); },
            Qt::QueuedConnection);
    });
    mosquitto_log_callback_set(client, [](mosquitto *, void *data, int level, const char *text) {
        if (!(level & MOSQ_LOG_ERR))
            return;
        auto *session = static_cast<Session *>(data);
        const QString line = QString::fromUtf8(text);
        {
            std::lock_guard<std::mutex> lock(session->mutex);
            session->lastError = line;
        }
        const auto s = std::pair{session->worker, session->generation};
        QMetaObject::invokeMethod(
            s.first, [s, line] { s.first->libraryError(s.second, line); }, Qt::QueuedConnection);
    });
    const QByteArray status = topics.status;
    mosquitto_will_set(client, status.constData(), willPayload.size(), willPayload.constData(), 1,
                       true);
    if (!config.config.user.isEmpty()) {
        mosquitto_username_pw_set(
            client, config.config.user.toUtf8().constData(),
            config.config.passwordFile.isEmpty() ? nullptr : config.password.toUtf8().constData());
    }
    if (config.address.tls) {
        const QByteArray ca = QFile::encodeName(config.config.caFile);
        const int code = ca.isEmpty() ? mosquitto_int_option(client, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                                      : mosquitto_tls_set(client, ca.constData(), nullptr, nullptr,
                                                          nullptr, nullptr);
        if (code != MOSQ_ERR_SUCCESS) {
            failed(QStringLiteral("TLS: ") + QString::fromUtf8(mosquitto_strerror(code)));
            return;
        }
    }
    // The host's name is looked up here, on this thread, never on the window's.
    const int code = mosquitto_connect_async(client, config.address.host.toUtf8().constData(),
                                             config.address.port, keepaliveS);
    if (code == MOSQ_ERR_TLS || code == MOSQ_ERR_TLS_HANDSHAKE) {
        failed(QStringLiteral("TLS: ") + session->takeError());
        return;
    }
    if (code != MOSQ_ERR_SUCCESS) {
        failed(code == MOSQ_ERR_EAI     ? QStringLiteral("unknown host ") + config.address.host
               : code == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(errno))
                                        : QString::fromUtf8(mosquitto_strerror(code)));
        return;
    }
    mosquitto_loop_start(client);
    connectTimeout.start(connectTimeoutMs);
}

void PublishWorker::connected(int from, int code)
{
    if (from != generation)
        return;
    connectTimeout.stop();
    if (code != 0) {
        failed(connackReason(code));
        return;
    }
    static const QByteArray onlinePayload = "online";
    mosquitto_publish(client, nullptr, topics.status.constData(), onlinePayload.size(),
                      onlinePayload.constData(), 1, true);
    retryDelayS = 1;
    online = true;
    setState(true, QString());
    pump();
    if (finishing)
        finishWhenDone();
}

void PublishWorker::disconnected(int from, int code)
{
    if (from != generation)
        return;
    QString reason = QString::fromUtf8(mosquitto_strerror(code));
    const QString error = session ? session->takeError() : QString();
    if (code == MOSQ_ERR_TLS || code == MOSQ_ERR_TLS_HANDSHAKE)
        reason = QStringLiteral("TLS: ") + error;
    else if (code == MOSQ_ERR_ERRNO && !error.isEmpty())
        reason = error;
    failed(reason);
}

void PublishWorker::libraryError(int from, const QString &text)
{
    if (from != generation)
        return;
    // While connecting, the client's thread ends on such an error without a word otherwise.
    if (!online && client)
        failed(text.contains(QLatin1String("OpenSSL")) ? QStringLiteral("TLS: ") + text : text);
}

void PublishWorker::acknowledged(int from, int mid)
{
    if (from != generation)
        return;
    if (mid == statusMid)
        statusAcked = true;
    for (Sent &sent : inFlight) {
        if (sent.mid == mid) {
            sent.acked = true;
            break;
        }
    }
    bool advanced = false;
    while (!inFlight.empty() && inFlight.front().acked) {
        cursor = inFlight.front().after;
        inFlight.pop_front();
        waiting = std::max<qint64>(0, waiting - 1);
        advanced = true;
    }
    if (advanced && !cursorSave.isActive())
        cursorSave.start(cursorSaveMs);
    // A backlog is read in batches: half the window at a time, not a file read per message.
    if (int(inFlight.size()) <= window / 2)
        pump();
    stateSoon();
    if (finishing)
        finishWhenDone();
}

void PublishWorker::pump()
{
    while (online && int(inFlight.size()) < window) {
        Position before = readPos;
        const auto items = queue.read(readPos, window - int(inFlight.size()));
        if (items.empty()) {
            // All sent and taken: a record the writer could not keep was counted, never read.
            if (inFlight.empty())
                waiting = 0;
            return;
        }
        std::map<uint8_t, const RecordQueue::Item *> latest;
        for (const RecordQueue::Item &item : items) {
            const QByteArray payload = measurementJson(item.record, stationJson, item.sequence);
            int mid = 0;
            const int code = mosquitto_publish(client, &mid, topics.measurement.constData(),
                                               payload.size(), payload.constData(), 1, false);
            if (code != MOSQ_ERR_SUCCESS) {
                // Sent again from here once the connection is back.
                readPos = before;
                return;
            }
            inFlight.push_back({mid, item.after, false});
            before = item.after;
            latest[item.record.address] = &item;
        }
        for (const auto &[address, item] : latest) {
            const QByteArray payload = measurementJson(item->record, stationJson, item->sequence);
            mosquitto_publish(client, nullptr, topics.last(address).constData(), payload.size(),
                              payload.constData(), 1, true);
        }
    }
}

void PublishWorker::dropClient()
{
    connectTimeout.stop();
    online = false;
    if (client) {
        // Marks the client as leaving, so that its thread ends instead of reconnecting.
        mosquitto_disconnect(client);
        mosquitto_loop_stop(client, false);
        mosquitto_destroy(client);
        client = nullptr;
    }
    delete session;
    session = nullptr;
    // Whatever the dropped client still said is queued behind this: it is not heard.
    ++generation;
    inFlight.clear();
    readPos = cursor;
}

void PublishWorker::failed(const QString &reason)
{
    dropClient();
    setState(false, reason.isEmpty() ? QStringLiteral("connection lost") : reason);
    if (finishing)
        return finishWhenDone();
    retryTimer.start(retryDelayS * 1000);
    retryDelayS = std::min(retryDelayS * 2, longestRetryS);
}

void PublishWorker::setState(bool connectedNow, const QString &reason)
{
    stateTimer.stop();
    const PublishState next{connectedNow, reason, waiting};
    if (next == state)
        return;
    state = next;
    emit stateChanged(state);
}

void PublishWorker::stateSoon()
{
    if (!stateTimer.isActive())
        stateTimer.start(stateUpdateMs);
}

void PublishWorker::finish(int waitMs)
{
    finishing = true;
    retryTimer.stop();
    finishDeadline.start(waitMs);
    finishWhenDone();
}

// Runs on the thread's own event loop, never a nested one: the client's words arrive as posted
// events, which an event loop nested in the delivery of another may not deliver.
void PublishWorker::finishWhenDone()
{
    if (!finishing || ended)
        return;
    if (!client)
        return endFinishing();
    if (finishDeadline.isActive()) {
        // A connection on its way is waited for too, so that a short run still tells the
        // outcome.
        if (!online)
            return;
        Position ahead = readPos;
        if (!inFlight.empty() || !queue.read(ahead, 1).empty())
            return;
    }
    if (!online)
        return endFinishing();
    if (statusMid < 0) {
        const QByteArray offline = willPayload;
        if (mosquitto_publish(client, &statusMid, topics.status.constData(), offline.size(),
                              offline.constData(), 1, true) != MOSQ_ERR_SUCCESS)
            return endFinishing();
        statusDeadline.start(1000);
        return;
    }
    if (statusAcked || !statusDeadline.isActive())
        endFinishing();
}

void PublishWorker::endFinishing()
{
    ended = true;
    finishDeadline.stop();
    statusDeadline.stop();
    dropClient();
    if (!(cursor == savedCursor))
        saveCursor(cursorPath, cursor);
    savedCursor = cursor;
    emit finished();
}

}  // namespace mqtt
