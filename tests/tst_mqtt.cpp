#include "mqtt/Payload.h"
#include "mqtt/RecordQueue.h"
#include "probesim/ProbeSimulator.h"
#include "records/RecordWriter.h"
#include "support/AdapterLatency.h"
#include "support/Broker.h"
#include "support/CapturingLog.h"
#include "support/Files.h"
#include "ui/Publishing.h"
#include "ui/StateField.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>
#include <limits>
#include <memory>

namespace {

const QByteArray station = "line1";
const QByteArray measurementTopic = "t7r/line1/measurement";
const QByteArray statusTopic = "t7r/line1/status";

QJsonObject json(const Subscriber::Message &message)
{
    return QJsonDocument::fromJson(message.payload).object();
}

// The sequence numbers of the measurements received, in the order received.
QVector<qint64> sequences(const Subscriber &subscriber)
{
    QVector<qint64> numbers;
    for (const auto &message : subscriber.messages(measurementTopic))
        numbers << json(message).value(QStringLiteral("sequence")).toVariant().toLongLong();
    return numbers;
}

bool received(Subscriber &subscriber, int count, int timeoutMs = 10000)
{
    return subscriber.waitUntil([&] { return sequences(subscriber).size() >= count; }, timeoutMs);
}

// The records' lines of the day, without the header.
QByteArrayList recordLines()
{
    QByteArrayList lines =
        files::read(QStringLiteral("records/") + records::fileName(QDate::currentDate()))
            .trimmed()
            .split('\n');
    lines.removeFirst();
    return lines;
}

// The records the broker has acknowledged, as the cursor has saved them.
qint64 acknowledged()
{
    const auto cursor = mqtt::loadCursor(QStringLiteral("records/publish.cursor"));
    return cursor ? qint64(cursor->sequence) - 1 : 0;
}

}  // namespace

// t7r-cli publishing to a real broker that the test starts, with simulated probes on the line:
// what arrives, in which order, across outages and restarts, and what each failure says.
class TestMqtt : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir certificates;
    const int loginPort = Broker::freePort();
    const int tlsPort = Broker::freePort();
    std::unique_ptr<Broker> failures;
    std::unique_ptr<QTemporaryDir> workDir;
    std::unique_ptr<probesim::ProbeSimulator> simulator;
    QStringList schemaFields;

    QStringList cliArguments(const QByteArray &url, const QStringList &more) const
    {
        return QStringList{
                   "--port", simulator->portPath(),    "--delay",   "5",
                   "--mqtt", QString::fromLatin1(url), "--station", QString::fromLatin1(station)} +
               more;
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QProcess::ExitStatus>();
        const QJsonObject schema =
            QJsonDocument::fromJson(files::read(QStringLiteral(SCHEMA_PATH))).object();
        for (const QJsonValue &field : schema.value(QStringLiteral("required")).toArray())
            schemaFields << field.toString();
        schemaFields.sort();
        QVERIFY(schemaFields.size() >= 8);

        // A CA with a broker certificate for localhost, and a CA that signed nothing here.
        QVERIFY(QDir::setCurrent(certificates.path()));
        const QString request = QStringLiteral(
            "req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2");
        const QString signedByCa = QStringLiteral(
            " -CA ca.pem -CAkey ca.key -addext basicConstraints=CA:FALSE -addext "
            "subjectAltName=DNS:localhost,IP:127.0.0.1");
        for (const QString name : {"ca", "other", "server"}) {
            const bool server = name == "server";
            QCOMPARE(QProcess::execute(
                         QStringLiteral("openssl"),
                         (request + " -keyout " + name + ".key -out " + name + ".pem" +
                          (server ? signedByCa : QString()))
                                 .split(' ') +
                             QStringList{"-subj", server ? "/CN=localhost" : "/CN=test " + name}),
                     0);
        }

        // The failures' broker: anonymous, a login on a second listener, TLS on a third. The
        // password files are named by their mode bits, or hold the wrong password.
        QVERIFY(files::write(QStringLiteral("passwd"), ""));
        QCOMPARE(
            QProcess::execute(QStringLiteral("mosquitto_passwd"), {"-b", "passwd", "u", "secret"}),
            0);
        for (const auto &[name, readable] : {std::pair{"0600", QFile::Permissions()},
                                             {"0640", QFile::ReadGroup},
                                             {"0604", QFile::ReadOther},
                                             {"wrong", QFile::Permissions()}}) {
            const QString file = QStringLiteral("password-") + name;
            QVERIFY(files::write(file, name == QLatin1String("wrong") ? "guess\n" : "secret\n"));
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | readable));
        }
        const QByteArray dir = QFile::encodeName(certificates.path());
        failures = std::make_unique<Broker>(
            certificates.path(), "per_listener_settings true\n",
            "listener " + QByteArray::number(loginPort) +
                " 127.0.0.1\nallow_anonymous false\npassword_file passwd\nlistener " +
                QByteArray::number(tlsPort) + " localhost\nallow_anonymous true\ncafile " + dir +
                "/ca.pem\ncertfile " + dir + "/server.pem\nkeyfile " + dir + "/server.key\n");
        QVERIFY(failures->start());
    }

    void init()
    {
        workDir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(workDir->path()));
        simulator = std::make_unique<probesim::ProbeSimulator>();
        for (const auto &[address, thickness, quality] :
             {std::tuple{12, 123.456f, 77}, {255, 7.25f, 5}}) {
            probesim::ProbeSettings probe;
            probe.thickness = thickness;
            probe.quality = quality;
            QVERIFY(simulator->model().addProbe(address, probe));
        }
        adapter::makeRealistic(*simulator);
        QVERIFY2(simulator->openPseudoTerminal(), qPrintable(simulator->errorString()));
    }

    void cleanup() { simulator.reset(); }

    // The folder read as a queue: whole records only, in day order, one number each, a torn
    // line waited for while its file is the newest and passed over once a later day began.
    void recordQueue()
    {
        QVERIFY(QDir().mkpath(QStringLiteral("records")));
        const QByteArray line1 = "2026-12-07T23:59:59.001+03:00,1,12,1.5,1.5,9\r\n";
        const QByteArray line2 = "2026-12-07T23:59:59.501+03:00,2,13,2.5,2.5,9\r\n";
        const QByteArray torn = "2026-12-07T23:59:59.9";
        const QByteArray line3 = "2026-12-08T00:00:00.250+03:00,1,12,3.5,3.5,9\r\n";
        QVERIFY(files::write("records/2026-12-07.csv",
                             records::header() + line1 + "not a record\r\n" + line2 + torn));
        QVERIFY(files::write("records/2026-12-08.csv", records::header() + line3.left(20)));
        QVERIFY(files::write("records/notes.csv", line1));
        const mqtt::RecordQueue queue(QStringLiteral("records"));
        // Past the newest file's header: its torn line is not a record yet.
        const mqtt::Position newest{QStringLiteral("2026-12-08.csv"), records::header().size(), 3};
        QCOMPARE(queue.end().file, newest.file);
        QCOMPARE(queue.end().offset, newest.offset);

        // What each read gives, by number and raw value.
        mqtt::Position at;
        const auto read = [&](int limit) {
            QList<QPair<quint64, float>> got;
            for (const auto &item : queue.read(at, limit))
                got << qMakePair(item.sequence, item.record.raw);
            return got;
        };
        using Got = QList<QPair<quint64, float>>;
        QCOMPARE(read(1), (Got{{1, 1.5f}}));
        QCOMPARE(read(10), (Got{{2, 2.5f}}));
        QCOMPARE(at, newest);
        QVERIFY(read(10).isEmpty());

        QVERIFY(files::write("records/2026-12-08.csv", records::header() + line3));
        QCOMPARE(read(10), (Got{{3, 3.5f}}));
        QCOMPARE(queue.count({}), qint64(3));
        QCOMPARE(queue.count(at), qint64(0));

        QVERIFY(mqtt::saveCursor(QStringLiteral("cursor"), at));
        QCOMPARE(mqtt::loadCursor(QStringLiteral("cursor")), std::optional(at));
        QVERIFY(mqtt::saveCursor(QStringLiteral("cursor"), {}));
        QCOMPARE(mqtt::loadCursor(QStringLiteral("cursor")), std::optional(mqtt::Position()));
        QVERIFY(files::write("cursor", R"({"file":"../settings.cfg","offset":0,"sequence":1})"));
        QVERIFY(!mqtt::loadCursor(QStringLiteral("cursor")));
    }

    // Each result once, in order, as the schema has it and as the records hold it, whatever
    // befalls the tool or the broker. First the backlog of a run killed while the broker was
    // away; then a run killed while it was there, for which the broker says "offline"; then a
    // run that the broker leaves for ten rounds and that ends on request, saying "offline"
    // itself. The numbering goes on from run to run, nothing comes twice, and the line goes on
    // as without publishing. The retained topics give the last of each.
    void everyResultOnceInOrder()
    {
        // t7r-cli takes a record's channel from the probe lines.
        QVERIFY(files::write(QStringLiteral("settings.cfg"),
                             files::settings({12, 255, 30, 31, 32, 33, 34, 35}, 5)));
        Broker broker(workDir->path());
        QProcess cli;
        const auto measure = [&](const QStringList &more) {
            cli.start(QStringLiteral(CLI_PATH), cliArguments(broker.url(), more));
        };
        const auto killedOnceDone = [&](const std::function<bool()> &done) {
            if (!QTest::qWaitFor(done, 20000) || cli.state() != QProcess::Running)
                return false;
            ::kill(pid_t(cli.processId()), SIGKILL);
            return cli.waitForFinished() && cli.exitStatus() == QProcess::CrashExit;
        };
        measure({"--every", "0.05", "measure", "12", "255"});
        // Killed once records of two rounds are written, however long a loaded machine takes.
        QVERIFY(killedOnceDone([&] { return recordLines().size() >= 4; }));
        const int backlog = int(recordLines().size());

        QVERIFY(broker.start());
        // A historian's session: the broker keeps what comes while it is away.
        Subscriber subscriber(broker.port, "historian");
        QVERIFY(subscriber.waitSubscribed());
        const auto status = [&] {
            const auto messages = subscriber.messages(statusTopic);
            return messages.isEmpty() ? QByteArray() : messages.last().payload;
        };
        // Killed once the backlog is acknowledged, measuring a probe that is not there: a record
        // the broker took but the cursor had not yet saved would come again, as it may after a
        // crash.
        measure({"--every", "0.05", "measure", "99"});
        QVERIFY(killedOnceDone([&] { return acknowledged() == backlog && status() == "online"; }));
        QVERIFY(subscriber.waitUntil([&] { return status() == "offline"; }));

        QSignalSpy finished(&cli, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        const QString trace = workDir->filePath(QStringLiteral("trace.txt"));
        measure({"--log", trace, "--every", "0.2", "measure", "12", "255"});
        QVERIFY(received(subscriber, backlog + 1));
        // Between two rounds, as a result has just arrived, the tool is held while the broker
        // goes: a message that the broker took but could not acknowledge would come twice, by
        // the protocol and by no fault of the publisher; held, the tool reads the broker's
        // acknowledgement before it sees the connection close.
        QVERIFY(received(subscriber, int(sequences(subscriber).size()) + 1));
        ::kill(pid_t(cli.processId()), SIGSTOP);
        QVERIFY(subscriber.waitUntil(
            [&] { return sequences(subscriber).size() >= recordLines().size(); }));
        broker.stop();
        ::kill(pid_t(cli.processId()), SIGCONT);
        const int asked = int(simulator->bus().requests().size()) + 20;
        QVERIFY(QTest::qWaitFor([&] { return int(simulator->bus().requests().size()) >= asked; },
                                20000));
        QVERIFY(broker.start());
        QVERIFY(received(subscriber, int(recordLines().size()) + 1, 40000));
        ::kill(pid_t(cli.processId()), SIGINT);
        QVERIFY(finished.wait(20000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        // The line saw nothing refused. A probe that a loaded machine kept from answering in
        // time is the line's business, not the publisher's: its round has no record to send.
        QVERIFY(!files::read(trace).contains("Packet not sended"));
        // Every request answered but those to the probe that is not there.
        const auto &requests = simulator->bus().requests();
        QCOMPARE(simulator->bus().answersWritten(),
                 int(std::count_if(requests.begin(), requests.end(),
                                   [](const auto &request) { return request.address() != 99; })));
        const QByteArrayList lines = recordLines();
        QVERIFY(received(subscriber, int(lines.size())));

        QHash<int, int> lastSequence;
        const auto messages = subscriber.messages(measurementTopic);
        QCOMPARE(messages.size(), lines.size());
        for (int i = 0; i < messages.size(); ++i) {
            const QJsonObject object = json(messages[i]);
            QCOMPARE(object.value("sequence").toInt(), i + 1);
            QCOMPARE(object.keys(), schemaFields);  // sorted, as the schema's are
            // The record's fields, as its day file holds them.
            QStringList fields;
            for (const char *key :
                 {"time", "channel", "address", "raw_um", "calibrated_um", "quality"})
                fields << object.value(key).toVariant().toString();
            QCOMPARE(fields.join(','),
                     QString::fromLatin1(lines[i].split(',').mid(0, 6).join(',')));
            QCOMPARE(object.value("station").toString().toLatin1(), station);
            lastSequence[object.value("address").toInt()] = i + 1;
            QVERIFY(!messages[i].retained);
        }

        Subscriber late(broker.port);
        QVERIFY(late.waitSubscribed());
        QVERIFY(late.waitUntil([&] { return late.messages().size() >= 3; }));
        QCOMPARE(late.messages(statusTopic).size(), 1);
        QCOMPARE(late.messages(statusTopic)[0].payload, QByteArray("offline"));
        for (const int address : {12, 255}) {
            const auto last =
                late.messages("t7r/line1/probe/" + QByteArray::number(address) + "/last");
            QCOMPARE(last.size(), 1);
            QVERIFY(last[0].retained);
            QCOMPARE(json(last[0]).value("sequence").toInt(), lastSequence.value(address));
        }
    }

    // The window's records, published from the working folder's publish.cfg: the state field
    // tells the connection and what waits while the broker is away; settings.cfg is left alone.
    void windowStateField()
    {
        Broker broker(workDir->path());
        QVERIFY(broker.start());
        Subscriber subscriber(broker.port, "desk-historian");
        QVERIFY(subscriber.waitSubscribed());
        mqtt::BrokerConfig config;
        config.url = QString::fromLatin1(broker.url());
        config.station = QString::fromLatin1(station);
        QVERIFY(mqtt::saveBrokerConfig(config));
        CapturingLog log;
        RecordWriter writer(&log);
        QMenu menu;
        StateField field;
        const auto item = [&] { return field.item(QStringLiteral("broker")); };
        // Records as odd as a line gives, each published as JSON a subscriber can parse: a value
        // that is not finite, and the channel of a record that names none, are null, never
        // "nan" or a channel it was not on.
        const float inf = std::numeric_limits<float>::infinity();
        const std::pair<QVector<int>, float> odd[] = {
            {{2}, 1.5f}, {{5, 3}, inf}, {{}, std::numeric_limits<float>::quiet_NaN()}, {{8}, -inf}};
        int added = 0;
        const auto add = [&](int count) {
            for (const int end = added + count; added < end; ++added)
                writer.append(QDateTime::currentDateTime(), odd[added].first, 12, odd[added].second,
                              4.0f, 9);
        };
        {
            Publishing publishing(&menu, field, writer, &log, nullptr);
            QVERIFY(subscriber.waitUntil([&] { return item() == "MQTT: соединение есть"; }));
            add(1);
            QVERIFY(subscriber.waitUntil([&] { return acknowledged() == 1; }));
            broker.stop();
            QVERIFY(
                subscriber.waitUntil([&] { return item().startsWith("MQTT: нет соединения"); }));
            QVERIFY(!log.lines.filter("0 MQTT: no connection to " + config.url + ": ").isEmpty());
            add(3);
            QVERIFY(subscriber.waitUntil([&] { return item().endsWith("ждут отправки: 3"); }));
            QVERIFY(broker.start());
            QVERIFY(received(subscriber, 4));
            QVERIFY(subscriber.waitUntil([&] { return item() == "MQTT: соединение есть"; }));
        }
        QCOMPARE(sequences(subscriber), (QVector<qint64>{1, 2, 3, 4}));
        QStringList published;
        for (const auto &message : subscriber.messages(measurementTopic)) {
            const QJsonObject object = json(message);
            published << QStringLiteral("%1 %2 %3")
                             .arg(object.value("channel").toVariant().toString(),
                                  object.value("raw_um").toVariant().toString(),
                                  object.value("calibrated_um").toVariant().toString());
        }
        QCOMPARE(published, (QStringList{"2 1.5 4", "3  4", "  4", "8  4"}));
        QVERIFY(!QFile::exists(QStringLiteral("settings.cfg")));
    }

    // Each failure in one line of its own; a broker that cannot be had costs no measurement.
    void failuresSaySo_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QStringList>("more");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QString dir = certificates.path() + QLatin1Char('/');
        const QString plain = QString::fromLatin1(failures->url());
        const QString login = QStringLiteral("mqtt://127.0.0.1:%1").arg(loginPort);
        const QString tls = QStringLiteral("mqtts://localhost:%1").arg(tlsPort);
        const auto password = [&](const char *name) {
            return QStringList{"--mqtt-user", "u", "--mqtt-password-file",
                               dir + "password-" + name};
        };
        QTest::addRow("malformed URL")
            << "mqtt//127.0.0.1" << QStringList() << 2 << "t7r-cli: --mqtt: 'mqtt//127.0.0.1'";
        QTest::addRow("not an MQTT URL")
            << "http://127.0.0.1" << QStringList() << 2 << "not mqtt://host:port";
        QTest::addRow("password file others read")
            << plain << password("0604") << 2 << "the group or others may read it";
        QTest::addRow("password file the group reads")
            << plain << password("0640") << 2 << "the group or others may read it";
        QTest::addRow("wrong password") << login << password("wrong") << 0 << "login failed";
        QTest::addRow("right password") << login << password("0600") << 0 << "MQTT: connected to";
        QTest::addRow("right CA") << tls << QStringList{"--mqtt-ca", dir + "ca.pem"} << 0
                                  << "MQTT: connected to";
        QTest::addRow("wrong CA") << tls << QStringList{"--mqtt-ca", dir + "other.pem"} << 0
                                  << "certificate verify failed";
        // The system's CAs, which never signed the test's broker.
        QTest::addRow("no CA") << tls << QStringList() << 0 << "certificate verify failed";
        QTest::addRow("refused") << QStringLiteral("mqtt://127.0.0.1:%1").arg(Broker::freePort())
                                 << QStringList() << 0 << "refused";
        QTest::addRow("unknown host") << "mqtt://no-such-host.invalid" << QStringList() << 0
                                      << "unknown host no-such-host.invalid";
    }

    void failuresSaySo()
    {
        QFETCH(QString, url);
        QFETCH(QStringList, more);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        // Run to its end; the probes are served by this process's event loop.
        QProcess cli;
        QSignalSpy finished(&cli, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        cli.start(QStringLiteral(CLI_PATH),
                  cliArguments(url.toUtf8(), more + QStringList{"measure", "12"}));
        QVERIFY(finished.wait(30000));
        const QByteArray errors = cli.readAllStandardError();
        QVERIFY2(errors.contains(message.toUtf8()), errors.constData());
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        if (exitCode == 2) {
            QCOMPARE(cli.exitCode(), 2);
            QCOMPARE(errors.count('\n'), 1);
            QCOMPARE(int(simulator->bus().requests().size()), 0);
        } else {
            // Past the options the run measures whatever the broker does; how its probe answered
            // on a loaded machine is the line's suites' business.
            QVERIFY2(cli.exitCode() <= 1, errors.constData());
            QCOMPARE(recordLines().size(), 1);
        }
    }
};

QTEST_MAIN(TestMqtt)
#include "tst_mqtt.moc"
