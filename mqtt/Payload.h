#pragma once

#include "records/Record.h"

#include <QByteArray>
#include <QString>

namespace mqtt {

// The topics under <prefix>/<station>/.
struct Topics
{
    Topics(const QString &prefix, const QString &station);
    QByteArray measurement;
    QByteArray status;
    QByteArray last(uint8_t address) const;

private:
    QByteArray base;
};

// One result as docs/mqtt-measurement.schema.json describes it; `station` is already JSON
// (a quoted, escaped string), since it is the same in every message.
QByteArray measurementJson(const records::Record &record, const QByteArray &station,
                           quint64 sequence);
QByteArray jsonString(const QString &text);

}  // namespace mqtt
