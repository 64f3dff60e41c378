#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// What the operator types, judged in one place so that every panel and every all-probe
// operation accepts and refuses the same texts.
namespace fieldrules {

// An unsigned decimal device address; a number that does not fit a byte names no device.
std::optional<uint8_t> parseProbeAddress(const QString &text);

// The measure thickness in micrometres, with a point as the decimal separator whatever the
// locale; "nan" and "inf" are no thickness.
std::optional<float> parseMeasureValue(const QString &text);

}  // namespace fieldrules
