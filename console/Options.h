#pragma once

#include "mqtt/BrokerConfig.h"
#include "protocol/ProbeLine.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

// What t7r-cli was asked to do, checked whole before anything touches the line.
namespace console {

enum class Action { Ports, Scan, Air, Measure, Zero, Point, Reset, Test };
enum class Format { Table, Csv, Json };

struct Options
{
    Action action = Action::Ports;
    QString port;
    int32_t delayMs = probeline::defaultDelayMs;
    // --delay was given: settings.cfg's delay, good or not, played no part.
    bool delayGiven = false;
    Format format = Format::Table;
    QString logFile;
    bool records = false;
    // limits.ini's format; empty: no limits, no verdicts.
    QString limitsFile;
    std::vector<uint8_t> addresses;
    float pointUm = 0;
    // Repeated rounds of measure: seconds from one round's start to the next; 0 runs them back
    // to back.
    double everySeconds = 0;
    // Rounds in all; 0 runs until stopped.
    int count = 1;
    // Extra passes of the scan over the addresses that kept silent.
    int retries = 0;
    // --mqtt: the records are published too, so --mqtt implies --records.
    std::optional<mqtt::CheckedConfig> publish;
};

struct Parsed
{
    enum class Outcome { Run, Help, Version, Error };
    Outcome outcome = Outcome::Error;
    Options options;
    // Help text, version line or the one-line error.
    QString text;
};

// `defaultDelayMs` is what ./settings.cfg gives, read by the caller.
Parsed parseArguments(const QStringList &arguments, int32_t defaultDelayMs);

QString actionName(Action action);

}  // namespace console
