#include "mqtt/Publisher.h"

#include "mqtt/PublishWorker.h"

#include <QCoreApplication>

#include <mosquitto.h>

#include <mutex>

namespace mqtt {

Publisher::Publisher(const CheckedConfig &config, const QString &recordsFolder, m::ifc::ILog *log,
                     QObject *parent)
    : QObject(parent), log(log), brokerUrl(config.config.url)
{
    static std::once_flag libraryReady;
    std::call_once(libraryReady, [] { mosquitto_lib_init(); });
    qRegisterMetaType<mqtt::PublishState>();
    worker = new PublishWorker(config, recordsFolder);
    worker->moveToThread(&thread);
    connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &PublishWorker::stateChanged, this, &Publisher::received);
    // Direct: the caller waits for the thread, so its own event loop cannot pass the word on.
    connect(worker, &PublishWorker::finished, &thread, &QThread::quit, Qt::DirectConnection);
    thread.setObjectName(QStringLiteral("publisher"));
    thread.start();
    QMetaObject::invokeMethod(worker, [w = worker] { w->start(); });
}

Publisher::~Publisher()
{
    finish(0);
}

void Publisher::recordsAdded()
{
    if (!finished)
        QMetaObject::invokeMethod(worker, [w = worker] { w->recordsAdded(); });
}

void Publisher::finish(int waitMs)
{
    if (finished)
        return;
    finished = true;
    QMetaObject::invokeMethod(worker, [w = worker, waitMs] { w->finish(waitMs); });
    thread.wait();
    // The last word of the worker, such as why it never connected, is told before the end.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void Publisher::received(const PublishState &state)
{
    const bool connectionChanged =
        state.connected != current.connected || state.reason != current.reason;
    current = state;
    if (connectionChanged && (state.connected || !state.reason.isEmpty()))
        m::writeLine(
            log, 0,
            state.connected
                ? QStringLiteral("MQTT: connected to ") + brokerUrl
                : QStringLiteral("MQTT: no connection to %1: %2").arg(brokerUrl, state.reason));
    emit stateChanged(state);
}

QString Publisher::describe(const PublishState &state)
{
    QString text = state.connected ? QStringLiteral("MQTT: соединение есть")
                   : state.reason.isEmpty()
                       ? QStringLiteral("MQTT: соединение…")
                       : QStringLiteral("MQTT: нет соединения (%1)").arg(state.reason);
    if (state.waiting > 0)
        text += QStringLiteral(", ждут отправки: %1").arg(state.waiting);
    return text;
}

}  // namespace mqtt
