#pragma once

#include "logging/ILog.h"

#include <QString>
#include <QStringList>
#include <QVector>

// Keeps every line written to it, with its level, for tests to compare.
class CapturingLog : public m::ifc::ILog
{
public:
    struct Line
    {
        uint32_t level;
        QString text;
    };

    void write(uint32_t level, std::string_view text) override
    {
        entries.append({level, QString::fromLocal8Bit(text.data(), int(text.size()))});
    }

    QStringList lines() const
    {
        QStringList texts;
        for (const Line &line : entries)
            texts.append(line.text);
        return texts;
    }

    const QVector<Line> &all() const { return entries; }
    int count() const { return entries.size(); }
    void clear() { entries.clear(); }

private:
    QVector<Line> entries;
};
