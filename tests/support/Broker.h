#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QTest>

#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>

// Debian's mosquitto on a free port of 127.0.0.1, with a configuration of the test's making;
// its persistence keeps sessions and retained messages across a stop and a start.
class Broker
{
public:
    // `head` goes before the first listener, `extra` after it (more listeners).
    Broker(const QString &directory, const QByteArray &head = {}, const QByteArray &extra = {})
        : directory(directory), port(freePort())
    {
        QFile config(directory + QStringLiteral("/mosquitto.conf"));
        config.open(QIODevice::WriteOnly);
        // Started as root, the broker would become the user mosquitto, who may not read here.
        config.write(head + "user root\npersistence true\npersistence_location " +
                     QFile::encodeName(directory) +
                     "/\nlog_dest stderr\nlog_type error\nlistener " + QByteArray::number(port) +
                     " 127.0.0.1\nallow_anonymous true\n" + extra);
    }
    ~Broker() { stop(); }

    const QString directory;
    const int port;

    bool start()
    {
        // It warns that it runs as root, which the suites do on purpose.
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(QStringLiteral("/usr/sbin/mosquitto"),
                      {QStringLiteral("-c"), directory + QStringLiteral("/mosquitto.conf")});
        // The event loop runs meanwhile: the simulated probes of the suite live on it.
        return QTest::qWaitFor(
                   [this] {
                       return process.state() == QProcess::NotRunning ||
                              (process.state() == QProcess::Running && loopback(port, true));
                   },
                   10000) &&
               process.state() == QProcess::Running;
    }

    void stop()
    {
        process.terminate();
        if (!QTest::qWaitFor([this] { return process.state() == QProcess::NotRunning; }))
            process.kill();
    }

    QByteArray url() const { return "mqtt://127.0.0.1:" + QByteArray::number(port); }

    static int freePort() { return loopback(0, false); }

private:
    // A socket on 127.0.0.1:`port`, bound to it (0: to a free one) or connected; the port it
    // had, or 0 if it could not.
    static int loopback(int port, bool connect)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(uint16_t(port));
        auto *raw = reinterpret_cast<sockaddr *>(&address);
        socklen_t length = sizeof address;
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        const bool ok = connect
                            ? ::connect(s, raw, length) == 0
                            : ::bind(s, raw, length) == 0 && ::getsockname(s, raw, &length) == 0;
        ::close(s);
        return ok ? ntohs(address.sin_port) : 0;
    }

    QProcess process;
};

// A receiver of everything under a topic filter, on libmosquitto's own thread. A named one keeps
// its session on the broker, so that what is published while it is away waits for it.
class Subscriber
{
public:
    struct Message
    {
        QByteArray topic;
        QByteArray payload;
        bool retained;
        std::chrono::steady_clock::time_point at;
    };

    Subscriber(int port, const char *name = nullptr, const char *filter = "t7r/#") : filter(filter)
    {
        mosquitto_lib_init();
        client = mosquitto_new(name, name == nullptr, this);
        mosquitto_connect_callback_set(client, [](mosquitto *m, void *self, int code) {
            if (code == 0)
                mosquitto_subscribe(m, nullptr, static_cast<Subscriber *>(self)->filter, 1);
        });
        mosquitto_subscribe_callback_set(client,
                                         [](mosquitto *, void *self, int, int, const int *) {
                                             static_cast<Subscriber *>(self)->subscribed = true;
                                         });
        mosquitto_message_callback_set(
            client, [](mosquitto *, void *self, const mosquitto_message *message) {
                auto *me = static_cast<Subscriber *>(self);
                std::lock_guard<std::mutex> lock(me->mutex);
                me->received.append(
                    {message->topic,
                     QByteArray(static_cast<const char *>(message->payload), message->payloadlen),
                     message->retain, std::chrono::steady_clock::now()});
            });
        mosquitto_reconnect_delay_set(client, 1, 1, false);
        mosquitto_connect(client, "127.0.0.1", port, 60);
        mosquitto_loop_start(client);
    }
    ~Subscriber()
    {
        mosquitto_disconnect(client);
        mosquitto_loop_stop(client, false);
        mosquitto_destroy(client);
    }

    bool waitSubscribed()
    {
        return waitUntil([this] { return bool(subscribed); }, 5000);
    }

    QList<Message> messages(const QByteArray &topic = {}) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        QList<Message> matching;
        for (const Message &message : received) {
            if (topic.isEmpty() || message.topic == topic)
                matching.append(message);
        }
        return matching;
    }

    int count() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return received.size();
    }

    // Keeps the caller's event loop running (the simulated probes live on it) until `done`.
    bool waitUntil(const std::function<bool()> &done, int ms = 10000)
    {
        return QTest::qWaitFor(done, ms);
    }

private:
    const char *filter;
    mosquitto *client;
    std::atomic<bool> subscribed{false};
    mutable std::mutex mutex;
    QList<Message> received;
};
