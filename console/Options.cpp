#include "console/Options.h"

#include "Version.h"
#include "protocol/FieldRules.h"
#include "protocol/ProbeLine.h"

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
    "Drives the thickness probes on one serial line (%1 baud) from the command line, with\n"
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

// One option as the parser and its help know it; a switch has no value name.
struct OptionEntry
{
    QStringList names;
    const char *description;
    const char *valueName;
    // The line's figure that the description's %1 stands for, where it has one.
    int figure = 0;
};

// In the order the help lists them.
const OptionEntry optionTable[] = {
    {{"h", "help"}, "Show this help and exit.", nullptr},
    {{"version"}, "Show the version and exit.", nullptr},
    {{"port"},
     "The serial port (/dev/ttyUSB0, COM3). Required by every command but ports.",
     "NAME"},
    {{"delay"},
     "Pause between the commands of one operation, in ms (default: Delay of ./settings.cfg, "
     "else %1). The engine's 5 ms gap is the least.",
     "MS",
     probeline::defaultDelayMs},
    {{"format"}, "Output: table (default), csv, or json (one object per line).", "FORMAT"},
    {{"every"},
     "measure: start a round every SECONDS (a round that takes longer is followed at once).",
     "SECONDS"},
    {{"count"}, "measure: N rounds (default 1; with --every, until interrupted).", "N"},
    {{"log"}, "Append the trace lines of log/log.txt to FILE.", "FILE"},
    {{"records"}, "Append measurements to the records folder, as the window does.", nullptr},
    {{"limits"},
     "Judge measurements by the tolerances in FILE (limits.ini's format, keyed by channel); rows "
     "gain verdict, lower_um and upper_um.",
     "FILE"},
    {{"retries"},
     "scan: ask the silent addresses N more times (default 0; each pass costs %1 ms per silent "
     "address).",
     "N",
     probeline::answerTimeLimitMs},
    {{"mqtt"},
     "Publish every measurement to the broker at URL (mqtt://host:port, mqtts://host:port); "
     "implies --records, whose files hold what the broker has not yet taken.",
     "URL"},
    {{"station"}, "--mqtt: the station's name (default: the host's).", "NAME"},
    {{"mqtt-prefix"}, "--mqtt: the topics' prefix (default t7r).", "P"},
    {{"mqtt-ca"},
     "--mqtt: the CA certificate that checks an mqtts:// broker (default: the system's).",
     "FILE"},
    {{"mqtt-user"}, "--mqtt: the user name to log in with.", "U"},
    {{"mqtt-password-file"},
     "--mqtt: the password, on the first line of F, which only its owner may read.",
     "F"},
};

// The options that only --mqtt gives a meaning.
const char *const mqttOnly[] = {"station", "mqtt-prefix", "mqtt-ca", "mqtt-user",
                                "mqtt-password-file"};

void declareOptions(QCommandLineParser &parser)
{
    for (const OptionEntry &entry : optionTable) {
        QString description = QLatin1String(entry.description);
        if (entry.figure != 0)
            description = description.arg(entry.figure);
        parser.addOption(
            QCommandLineOption(entry.names, description, QLatin1String(entry.valueName)));
    }
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("ports, scan, air, measure, zero, point, reset "
                                                "or test."));
    parser.addPositionalArgument(QStringLiteral("arguments"),
                                 QStringLiteral("The command's addresses (and UM for point)."),
                                 QStringLiteral("[ADDR...] [UM]"));
}

// A whole number from `low` to `high`, in decimal; nothing for anything else.
std::optional<int> boundedWhole(const QString &text, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

// The command and its addresses (and UM for point); empty when they are right.
QString readCommand(const QCommandLineParser &parser, Options &options)
{
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return QStringLiteral(
            "missing command (ports, scan, air, measure, zero, point, reset or "
            "test)");
    const QString name = positional.takeFirst();
    const ActionEntry *entry = nullptr;
    for (const ActionEntry &candidate : actions) {
        if (name == QLatin1String(candidate.name))
            entry = &candidate;
    }
    if (!entry)
        return QStringLiteral("unknown command '%1'").arg(name);
    options.action = entry->action;

    if (options.action == Action::Point) {
        if (positional.size() != 2)
            return QStringLiteral("point wants ADDR and UM");
        const QString text = positional.takeLast();
        const auto um = fieldrules::parseMeasureValue(text);
        if (!um)
            return QStringLiteral("UM '%1' is not a number").arg(text);
        options.pointUm = *um;
    }
    if (positional.size() < entry->minAddresses ||
        (entry->maxAddresses >= 0 && positional.size() > entry->maxAddresses)) {
        if (entry->maxAddresses == 0)
            return QStringLiteral("%1 takes no arguments: '%2'").arg(name, positional.first());
        return entry->maxAddresses == 1 ? QStringLiteral("%1 wants one address").arg(name)
                                        : QStringLiteral("%1 wants at least one address").arg(name);
    }
    for (const QString &text : positional) {
        const auto address = fieldrules::parseProbeAddress(text);
        if (!address)
            return QStringLiteral("address '%1' is not a whole number from 0 to 255").arg(text);
        options.addresses.push_back(*address);
    }
    return {};
}

// --every, --count and --retries; empty when they are right.
QString readRepeats(const QCommandLineParser &parser, Options &options)
{
    const QString every = QStringLiteral("every"), count = QStringLiteral("count"),
                  retries = QStringLiteral("retries");
    if ((parser.isSet(every) || parser.isSet(count)) && options.action != Action::Measure)
        return QStringLiteral("--%1 applies to measure only")
            .arg(parser.isSet(every) ? every : count);
    if (parser.isSet(every)) {
        bool ok = false;
        const double seconds = parser.value(every).toDouble(&ok);
        // A day at most: the timer counts milliseconds in 32 bits.
        if (!ok || !(seconds > 0) || seconds > 86400)
            return QStringLiteral("--every: '%1' is not a number of seconds above 0")
                .arg(parser.value(every));
        options.everySeconds = seconds;
        options.count = 0;
    }
    if (parser.isSet(count)) {
        const auto rounds = boundedWhole(parser.value(count), 1, INT_MAX);
        if (!rounds)
            return QStringLiteral("--count: '%1' is not a whole number above 0")
                .arg(parser.value(count));
        options.count = *rounds;
    }
    if (parser.isSet(retries)) {
        if (options.action != Action::Scan)
            return QStringLiteral("--retries applies to scan only");
        const auto passes = boundedWhole(parser.value(retries), 0, 10);
        if (!passes)
            return QStringLiteral("--retries: '%1' is not a whole number from 0 to 10")
                .arg(parser.value(retries));
        options.retries = *passes;
    }
    return {};
}

// --mqtt and the options that go with it; empty when they are right.
QString readPublishing(const QCommandLineParser &parser, Options &options)
{
    if (!parser.isSet(QStringLiteral("mqtt"))) {
        for (const char *name : mqttOnly) {
            if (parser.isSet(QLatin1String(name)))
                return QStringLiteral("--%1 applies with --mqtt only").arg(QLatin1String(name));
        }
        return {};
    }
    mqtt::BrokerConfig config;
    config.url = parser.value(QStringLiteral("mqtt"));
    config.station = parser.value(QStringLiteral("station"));
    if (parser.isSet(QStringLiteral("mqtt-prefix")))
        config.prefix = parser.value(QStringLiteral("mqtt-prefix"));
    config.caFile = parser.value(QStringLiteral("mqtt-ca"));
    config.user = parser.value(QStringLiteral("mqtt-user"));
    config.passwordFile = parser.value(QStringLiteral("mqtt-password-file"));
    QString error;
    options.publish = mqtt::checkConfig(config, &error);
    if (!options.publish)
        return QStringLiteral("--mqtt: ") + error;
    options.records = true;
    return {};
}

// A file option that was given must name a file.
QString readFileName(const QCommandLineParser &parser, const QString &name, QString &file)
{
    if (!parser.isSet(name))
        return {};
    file = parser.value(name);
    return file.isEmpty() ? QStringLiteral("--%1: empty file name").arg(name) : QString();
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
    parser.setApplicationDescription(QString::fromLatin1(description).arg(probeline::baudRate));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    declareOptions(parser);

    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        Parsed parsed;
        parsed.outcome = Parsed::Outcome::Help;
        QString text = parser.helpText();
        text.replace(0, text.indexOf(QLatin1Char('\n')),
                     QStringLiteral("Usage: %1 --port NAME [options] command [ADDR...] [UM]")
                         .arg(QLatin1String(programName)));
        parsed.text = text + QLatin1String(epilogue);
        return parsed;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        Parsed parsed;
        parsed.outcome = Parsed::Outcome::Version;
        parsed.text =
            QLatin1String(programName) + QStringLiteral(" ") + QStringLiteral(T7R_VERSION);
        return parsed;
    }

    Options options;
    if (const QString error = readCommand(parser, options); !error.isEmpty())
        return fail(error);

    if (parser.isSet(QStringLiteral("port"))) {
        options.port = parser.value(QStringLiteral("port"));
        if (options.port.isEmpty())
            return fail(QStringLiteral("--port: empty port name"));
    } else if (options.action != Action::Ports) {
        return fail(QStringLiteral("--port is required"));
    }

    options.delayMs = defaultDelayMs;
    if (parser.isSet(QStringLiteral("delay"))) {
        const QString text = parser.value(QStringLiteral("delay"));
        const auto delay = boundedWhole(text, 0, INT_MAX);
        if (!delay)
            return fail(
                QStringLiteral("--delay: '%1' is not a whole number of milliseconds").arg(text));
        options.delayMs = *delay;
        options.delayGiven = true;
    }

    if (parser.isSet(QStringLiteral("format"))) {
        const QString value = parser.value(QStringLiteral("format"));
        if (value == QLatin1String("table"))
            options.format = Format::Table;
        else if (value == QLatin1String("csv"))
            options.format = Format::Csv;
        else if (value == QLatin1String("json"))
            options.format = Format::Json;
        else
            return fail(QStringLiteral("--format: '%1' is not table, csv or json").arg(value));
    }

    if (const QString error = readRepeats(parser, options); !error.isEmpty())
        return fail(error);
    if (const QString error = readFileName(parser, QStringLiteral("log"), options.logFile);
        !error.isEmpty())
        return fail(error);
    options.records = parser.isSet(QStringLiteral("records"));
    if (const QString error = readPublishing(parser, options); !error.isEmpty())
        return fail(error);
    if (const QString error = readFileName(parser, QStringLiteral("limits"), options.limitsFile);
        !error.isEmpty())
        return fail(error);

    Parsed parsed;
    parsed.outcome = Parsed::Outcome::Run;
    parsed.options = options;
    return parsed;
}

}  // namespace console
