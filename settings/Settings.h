#pragma once

#include "logging/ILog.h"
#include "protocol/ProbeLine.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <vector>

class QTextStream;

// What settings.cfg gives besides the probe addresses.
struct Settings
{
    int32_t delay = probeline::defaultDelayMs;
    QString port = QStringLiteral("COM2");
    // Why the record was not used, naming the first line that did not match; empty when the
    // file gave the delay.
    QString mismatch;
    // The line of settings.cfg that mismatch names, from 1.
    int mismatchLine = 0;
};

// settings.cfg in the working directory, read once at start-up.
Settings readSettings();
std::map<uint8_t, uint8_t> readAddrToProbe(m::ifc::ILog *log);
std::map<uint8_t, uint8_t> readProbeToAddr(m::ifc::ILog *log);

// The parsers behind the readers, on text already read.
Settings parseSettings(const QByteArray &text);
std::vector<uint8_t> parseProbeAddresses(QTextStream &stream, m::ifc::ILog *log);
