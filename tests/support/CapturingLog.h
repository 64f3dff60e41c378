#pragma once

#include "logging/ILog.h"

#include <QStringList>

// Keeps every line written to it as "level text", and passes it on to `forward` if one is set.
class CapturingLog : public m::ifc::ILog
{
public:
    void write(uint32_t level, std::string_view text) override
    {
        lines << QString::number(level) + QLatin1Char(' ') +
                     QString::fromLocal8Bit(text.data(), int(text.size()));
        if (forward)
            forward->write(level, text);
    }

    QStringList lines;
    m::ifc::ILog *forward = nullptr;
};
