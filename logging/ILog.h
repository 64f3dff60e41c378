#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <string_view>

namespace m {
namespace ifc {

// Sink for the program's log lines; level 0 is application events, 1 device traffic.
class ILog
{
public:
    virtual ~ILog() = default;
    virtual void write(uint32_t level, std::string_view text) = 0;
};

}  // namespace ifc

// Log that accepts everything and keeps nothing.
class DummyLog : public ifc::ILog
{
public:
    void write(uint32_t, std::string_view) override {}
};

inline void writeLine(ifc::ILog *log, uint32_t level, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    log->write(level, std::string_view(bytes.constData(), size_t(bytes.size())));
}

}  // namespace m
