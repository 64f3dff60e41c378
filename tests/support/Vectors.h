#pragma once

#include <QByteArrayList>
#include <QFile>

// Rows of one kind from tests/data/protocol.tsv, known answers from an independent
// implementation, without the kind field.
inline QList<QByteArrayList> protocolVectors(const QByteArray &kind)
{
    QFile file(QStringLiteral(TEST_DATA_DIR "/protocol.tsv"));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("protocol.tsv is missing");
    QList<QByteArrayList> rows;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QByteArrayList fields = line.trimmed().split('\t');
        if (fields.first() == kind)
            rows.append(fields.mid(1));
    }
    return rows;
}
