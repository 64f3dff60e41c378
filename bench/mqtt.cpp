// Publishing: how long a result takes from the moment it is recorded to a subscriber on the
// same machine, what recording costs the caller with publishing on, and how fast a backlog of
// 100,000 records left by an outage drains. A broker of Debian's is started on a free port.

#include "Statistics.h"
#include "mqtt/Publisher.h"
#include "mqtt/RecordQueue.h"
#include "records/RecordWriter.h"
#include "support/Broker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdio>
#include <map>

namespace {

constexpr double medianTargetMs = 5;
constexpr double p99TargetMs = 20;
constexpr double backlogTargetS = 10;

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

mqtt::CheckedConfig configFor(const Broker &broker)
{
    mqtt::BrokerConfig config;
    config.url = QString::fromLatin1(broker.url());
    config.station = QStringLiteral("bench");
    QString error;
    return *mqtt::checkConfig(config, &error);
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    int results = 1000;
    int backlog = 100000;
    const QStringList arguments = application.arguments();
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--results"))
            results = arguments[i + 1].toInt();
        if (arguments[i] == QLatin1String("--backlog"))
            backlog = arguments[i + 1].toInt();
    }
    bool met = true;
    m::DummyLog log;

    {
        QTemporaryDir folder;
        Broker broker(folder.path());
        if (!broker.start()) {
            std::fprintf(stderr, "mosquitto did not start\n");
            return 2;
        }
        Subscriber subscriber(broker.port, nullptr, "t7r/bench/measurement");
        subscriber.waitSubscribed();
        RecordWriter writer(&log, folder.path() + QStringLiteral("/records"));
        mqtt::Publisher publisher(configFor(broker), writer.directory(), &log);
        QObject::connect(&writer, &RecordWriter::appended, &publisher,
                         &mqtt::Publisher::recordsAdded);
        subscriber.waitUntil([&] { return publisher.state().connected; });
        std::vector<Clock::time_point> recorded;
        std::vector<double> appendMs;
        // One result every 10 ms: eight probes at the shortest cycle send fewer.
        for (int i = 0; i < results; ++i) {
            const auto before = Clock::now();
            writer.append(QDateTime::currentDateTime(), {1}, 12, 100.0f + float(i), 100.0f, 50);
            recorded.push_back(before);
            appendMs.push_back(msBetween(before, Clock::now()));
            QTest::qWait(10);
        }
        subscriber.waitUntil([&] { return subscriber.count() >= results; }, 30000);
        std::vector<double> latencies;
        for (const auto &message : subscriber.messages()) {
            const qint64 sequence = QJsonDocument::fromJson(message.payload)
                                        .object()
                                        .value(QStringLiteral("sequence"))
                                        .toVariant()
                                        .toLongLong();
            if (sequence >= 1 && sequence <= qint64(recorded.size()))
                latencies.push_back(msBetween(recorded[size_t(sequence - 1)], message.at));
        }
        const double median = bench::median(latencies);
        const double p99 = bench::percentile(latencies, 0.99);
        std::printf(
            "record -> subscriber, %zu of %d results: median %.2f ms (target <= %.0f), "
            "p99 %.2f ms (target <= %.0f), max %.2f ms\n",
            latencies.size(), results, median, medianTargetMs, p99, p99TargetMs,
            bench::maximum(latencies));
        std::printf(
            "append with publishing on, on the caller's thread: median %.3f ms, p99 "
            "%.3f ms\n",
            bench::median(appendMs), bench::percentile(appendMs, 0.99));
        met = met && int(latencies.size()) == results && median <= medianTargetMs &&
              p99 <= p99TargetMs;
    }

    {
        QTemporaryDir folder;
        const QString records = folder.path() + QStringLiteral("/records");
        QDir().mkpath(records);
        // The records an outage left, written as the writer writes them, and a cursor before.
        const QDateTime start = QDateTime::currentDateTime();
        QFile day(records + QLatin1Char('/') + records::fileName(start.date()));
        day.open(QIODevice::WriteOnly);
        QByteArray text = records::header();
        for (int i = 0; i < backlog; ++i)
            text += records::formatLine(
                records::makeRecord(start, {1 + i % 8}, uint8_t(i % 8 + 1), float(i), 1.0f, 50));
        day.write(text);
        day.close();
        mqtt::saveCursor(records + QStringLiteral("/publish.cursor"), {});
        // The broker's default queue for a subscriber (1000) would drop most of a backlog.
        Broker broker(folder.path(), "max_queued_messages 0\nmax_inflight_messages 0\n");
        if (!broker.start())
            return 2;
        Subscriber subscriber(broker.port, nullptr, "t7r/bench/measurement");
        subscriber.waitSubscribed();
        QElapsedTimer clock;
        clock.start();
        mqtt::Publisher publisher(configFor(broker), records, &log);
        const bool all =
            subscriber.waitUntil([&] { return subscriber.count() >= backlog; }, 120000);
        const double seconds = double(clock.elapsed()) / 1000.0;
        std::printf("backlog of %d records: %s in %.2f s (target <= %.0f s), %.0f messages/s\n",
                    backlog, all ? "all received" : "NOT all received", seconds, backlogTargetS,
                    double(backlog) / seconds);
        met = met && all && seconds <= backlogTargetS;
    }
    std::printf(met ? "targets met\n" : "target missed\n");
    return met ? 0 : 1;
}
