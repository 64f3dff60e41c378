#include "console/Options.h"

#include "Version.h"
#include "protocol/FieldRules.h"

#include <QCommandLineParser>

#include <climits>

namespace console {

namespace {

const char *const programName = "t7r-cli";

struct ActionEntry
{
    Action action;
    const char *name;
    // Address arguments: at least `minAddresses`, at most `maxAddresses` (-1: any number).
    int minAddresses;
    int maxAddresses;
};

const ActionEntry actions[] = {
    {Action::Ports, "ports", 0, 0}, {Action::Scan, "scan", 0, 0},
    {Action::Air, "air", 1, -1},    {Action::Measure, "measure", 1, -1},
    {Action::Zero, "zero", 1, 1},   {Action::Point, "point", 1, 1},
    {Action::Reset, "reset", 1, 1}, {Action::Test, "test", 0, 0},
};

const char *const description =
    "Drives the thickness probes on one serial line (460800 baud) from the command line, with\n"
    "the same device layer, gap rule, answer time limit and log lines as the window.\n"
    "\n"
    "Commands:\n"
    "  ports              List the serial ports.\n"
    "  scan               Ask every address 0 to 255 for a probe; one row per probe that\n"
    "                     answered.\n"
    "  air ADDR...        Renew the air reference of each probe.\n"
    "  measure ADDR...    Start a measurement on each probe and read the results.\n"
    "  zero ADDR          Set the zero point of one probe.\n"
    "  point ADDR UM      Set a measure point of one probe to UM micrometres.\n"
    "  reset ADDR         Reset the calibration of one probe.\n"
    "  test               Run the memory test (always address 1).\n"
    "  report ...         Write the report of a time range as PDF (t7r-cli report --help).\n"
    "\n"
    "ADDR is a probe address, 0 to 255. Rows have the fields time, address, raw_um,\n"
    "calibrated_um, quality, command and outcome; outcome is ok, the probe's error text\n"
    "(Busy, Bad hash, ...) or no response. With --limits they also have verdict (ok, below,\n"
    "above), lower_um and upper_um. zero, point and reset are journalled with the probe's\n"
    "answer in records/calibration.csv.";

const char *const epilogue =
    "\n"
    "Exit status:\n"
    "  0  every probe answered OK\n"
    "  1  some probe answered with an error or not at all; its row says which;\n"
    "     or --records could not keep a measurement\n"
    "  2  bad arguments; nothing was sent\n"
    "  3  the port could not be opened\n"
    "  4  the device was lost during the run\n"
    "  5  with --limits: every probe answered, and some value was out of tolerance\n"
    "  130, 143  SIGINT or SIGTERM cut a round short; rows for the rest say stopped\n"
    "\n"
    "Examples:\n"
    "  t7r-cli --port /dev/ttyUSB0 scan\n"
    "  t7r-cli --port /dev/ttyUSB0 --format csv measure 12 13 14\n"
    "  t7r-cli --port COM3 --every 5 --count 10 --format json measure 12\n"
    "  t7r-cli --port /dev/ttyUSB0 point 12 250.5\n";

Parsed fail(const QString &text)
{
    Parsed parsed;
    parsed.outcome = Parsed::Outcome::Error;
    parsed.text = QLatin1String(programName) + QStringLiteral(": ") + text;
    return parsed;
}

}  // namespace

QString actionName(Action action)
{
    for (const ActionEntry &entry : actions) {
        if (entry.action == action)
            return QLatin1String(entry.name);
    }
    return {};
}

Parsed parseArguments(const QStringList &arguments, int32_t defaultDelayMs)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(description));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("The serial port (/dev/ttyUSB0, COM3). Required "
                                                 "by every command but ports."),
                                  QStringLiteral("NAME"));
    const QCommandLineOption delay(
        QStringLiteral("delay"),
        QStringLiteral("Pause between the commands of one operation, in ms (default: Delay of "
                       "./settings.cfg, else 190). The engine's 5 ms gap is the least."),
        QStringLiteral("MS"));
    const QCommandLineOption format(QStringLiteral("format"),
                                    QStringLiteral("Output: table (default), csv, or json (one "
                                                   "object per line)."),
                                    QStringLiteral("FORMAT"));
    const QCommandLineOption every(QStringLiteral("every"),
                                   QStringLiteral("measure: start a round every SECONDS (a "
                                                  "round that takes longer is followed at once)."),
                                   QStringLiteral("SECONDS"));
    const QCommandLineOption count(QStringLiteral("count"),
                                   QStringLiteral("measure: N rounds (default 1; with --every, "
                                                  "until interrupted)."),
                                   QStringLiteral("N"));
    const QCommandLineOption log(QStringLiteral("log"),
                                 QStringLiteral("Append the trace lines of log/log.txt to FILE."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption records(
        QStringLiteral("records"),
        QStringLiteral("Append measurements to the records folder, as the window does."));
    const QCommandLineOption limits(
        QStringLiteral("limits"),
        QStringLiteral("Judge measurements by the tolerances in FILE (limits.ini's format, keyed "
                       "by channel); rows gain verdict, lower_um and upper_um."),
        QStringLiteral("FILE"));
    const QCommandLineOption retries(QStringLiteral("retries"),
                                     QStringLiteral("scan: ask the silent addresses N more times "
                                                    "(default 0; each pass costs 40 ms per "
                                                    "silent address)."),
                                     QStringLiteral("N"));
    const QCommandLineOption mqttUrl(
        QStringLiteral("mqtt"),
        QStringLiteral("Publish every measurement to the broker at URL (mqtt://host:port, "
                       "mqtts://host:port); implies --records, whose files hold what the broker "
                       "has not yet taken."),
        QStringLiteral("URL"));
    const QCommandLineOption station(
        QStringLiteral("station"),
        QStringLiteral("--mqtt: the station's name (default: the host's)."),
        QStringLiteral("NAME"));
    const QCommandLineOption mqttPrefix(QStringLiteral("mqtt-prefix"),
                                        QStringLiteral("--mqtt: the topics' prefix (default t7r)."),
                                        QStringLiteral("P"));
    const QCommandLineOption mqttCa(
        QStringLiteral("mqtt-ca"),
        QStringLiteral("--mqtt: the CA certificate that checks an mqtts:// broker (default: the "
                       "system's)."),
        QStringLiteral("FILE"));
    const QCommandLineOption mqttUser(QStringLiteral("mqtt-user"),
                                      QStringLiteral("--mqtt: the user name to log in with."),
                                      QStringLiteral("U"));
    const QCommandLineOption mqttPasswordFile(
        QStringLiteral("mqtt-password-file"),
        QStringLiteral("--mqtt: the password, on the first line of F, which only its owner may "
                       "read."),
        QStringLiteral("F"));
    parser.addOptions({help, version, port, delay, format, every, count, log, records, limits,
                       retries, mqttUrl, station, mqttPrefix, mqttCa, mqttUser, mqttPasswordFile});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("ports, scan, air, measure, zero, point, reset "
                                                "or test."));
    parser.addPositionalArgument(QStringLiteral("arguments"),
                                 QStringLiteral("The command's addresses (and UM for point)."),
                                 QStringLiteral("[ADDR...] [UM]"));

    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(help)) {
        Parsed parsed;
        parsed.outcome = Parsed::Outcome::Help;
        QString text = parser.helpText();
        text.replace(0, text.indexOf(QLatin1Char('\n')),
                     QStringLiteral("Usage: %1 --port NAME [options] command [ADDR...] [UM]")
                         .arg(QLatin1String(programName)));
        parsed.text = text + QLatin1String(epilogue);
        return parsed;
    }
    if (parser.isSet(version)) {
        Parsed parsed;
        parsed.outcome = Parsed::Outcome::Version;
        parsed.text =
            QLatin1String(programName) + QStringLiteral(" ") + QStringLiteral(T7R_VERSION);
        return parsed;
    }

    Options options;
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return fail(
            QStringLiteral("missing command (ports, scan, air, measure, zero, point, "
                           "reset or test)"));
    const QString name = positional.takeFirst();
    const ActionEntry *entry = nullptr;
    for (const ActionEntry &candidate : actions) {
        if (name == QLatin1String(candidate.name))
            entry = &candidate;
    }
    if (!entry)
        return fail(QStringLiteral("unknown command '%1'").arg(name));
    options.action = entry->action;

    if (options.action == Action::Point) {
        if (positional.size() != 2)
            return fail(QStringLiteral("point wants ADDR and UM"));
        const auto um = fieldrules::parseMeasureValue(positional.takeLast());
        if (!um)
            return fail(
                QStringLiteral("UM '%1' is not a number").arg(parser.positionalArguments().last()));
        options.pointUm = *um;
    }
    if (positional.size() < entry->minAddresses ||
        (entry->maxAddresses >= 0 && positional.size() > entry->maxAddresses)) {
        if (entry->maxAddresses == 0)
            return fail(
                QStringLiteral("%1 takes no arguments: '%2'").arg(name, positional.first()));
        return fail(entry->maxAddresses == 1
                        ? QStringLiteral("%1 wants one address").arg(name)
                        : QStringLiteral("%1 wants at least one address").arg(name));
    }
    for (const QString &text : positional) {
        const auto address = fieldrules::parseProbeAddress(text);
        if (!address)
            return fail(
                QStringLiteral("address '%1' is not a whole number from 0 to 255").arg(text));
        options.addresses.push_back(*address);
    }

    if (parser.isSet(port)) {
        options.port = parser.value(port);
        if (options.port.isEmpty())
            return fail(QStringLiteral("--port: empty port name"));
    } else if (options.action != Action::Ports) {
        return fail(QStringLiteral("--port is required"));
    }

    options.delayMs = defaultDelayMs;
    if (parser.isSet(delay)) {
        bool ok = false;
        const int value = parser.value(delay).toInt(&ok, 10);
        if (!ok || value < 0)
            return fail(QStringLiteral("--delay: '%1' is not a whole number of milliseconds")
                            .arg(parser.value(delay)));
        options.delayMs = value;
        options.delayGiven = true;
    }

    if (parser.isSet(format)) {
        const QString value = parser.value(format);
        if (value == QLatin1String("table"))
            options.format = Format::Table;
        else if (value == QLatin1String("csv"))
            options.format = Format::Csv;
        else if (value == QLatin1String("json"))
            options.format = Format::Json;
        else
            return fail(QStringLiteral("--format: '%1' is not table, csv or json").arg(value));
    }

    const bool repeated = parser.isSet(every) || parser.isSet(count);
    if (repeated && options.action != Action::Measure)
        return fail(
            QStringLiteral("--%1 applies to measure only")
                .arg(parser.isSet(every) ? QStringLiteral("every") : QStringLiteral("count")));
    if (parser.isSet(every)) {
        bool ok = false;
        const double seconds = parser.value(every).toDouble(&ok);
        // A day at most: the timer counts milliseconds in 32 bits.
        if (!ok || !(seconds > 0) || seconds > 86400)
            return fail(QStringLiteral("--every: '%1' is not a number of seconds above 0")
                            .arg(parser.value(every)));
        options.everySeconds = seconds;
        options.count = 0;
    }
    if (parser.isSet(count)) {
        bool ok = false;
        const int value = parser.value(count).toInt(&ok, 10);
        if (!ok || value < 1)
            return fail(QStringLiteral("--count: '%1' is not a whole number above 0")
                            .arg(parser.value(count)));
        options.count = value;
    }
    if (parser.isSet(retries)) {
        if (options.action != Action::Scan)
            return fail(QStringLiteral("--retries applies to scan only"));
        bool ok = false;
        const int value = parser.value(retries).toInt(&ok, 10);
        if (!ok || value < 0 || value > 10)
            return fail(QStringLiteral("--retries: '%1' is not a whole number from 0 to 10")
                            .arg(parser.value(retries)));
        options.retries = value;
    }
    if (parser.isSet(log)) {
        options.logFile = parser.value(log);
        if (options.logFile.isEmpty())
            return fail(QStringLiteral("--log: empty file name"));
    }
    options.records = parser.isSet(records);
    if (parser.isSet(mqttUrl)) {
        mqtt::BrokerConfig config;
        config.url = parser.value(mqttUrl);
        config.station = parser.value(station);
        if (parser.isSet(mqttPrefix))
            config.prefix = parser.value(mqttPrefix);
        config.caFile = parser.value(mqttCa);
        config.user = parser.value(mqttUser);
        config.passwordFile = parser.value(mqttPasswordFile);
        QString error;
        options.publish = mqtt::checkConfig(config, &error);
        if (!options.publish)
            return fail(QStringLiteral("--mqtt: ") + error);
        options.records = true;
    } else {
        for (const QCommandLineOption *option :
             {&station, &mqttPrefix, &mqttCa, &mqttUser, &mqttPasswordFile}) {
            if (parser.isSet(*option))
                return fail(
                    QStringLiteral("--%1 applies with --mqtt only").arg(option->names().first()));
        }
    }
    if (parser.isSet(limits)) {
        options.limitsFile = parser.value(limits);
        if (options.limitsFile.isEmpty())
            return fail(QStringLiteral("--limits: empty file name"));
    }

    Parsed parsed;
    parsed.outcome = Parsed::Outcome::Run;
    parsed.options = options;
    return parsed;
}

}  // namespace console
