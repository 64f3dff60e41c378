#include "protocol/FieldRules.h"

#include <cmath>
#include <limits>

namespace fieldrules {

std::optional<uint8_t> parseProbeAddress(const QString &text)
{
    bool ok = false;
    const uint value = text.toUInt(&ok, 10);
    if (!ok || value > std::numeric_limits<uint8_t>::max())
        return std::nullopt;
    return uint8_t(value);
}

std::optional<float> parseMeasureValue(const QString &text)
{
    bool ok = false;
    const float value = text.toFloat(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

}  // namespace fieldrules
