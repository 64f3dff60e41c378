#pragma once

#include "records/Record.h"

#include <QDate>
#include <QIODevice>
#include <QString>

#include <vector>

// Reads the record files back, those the writer made and those a person edited. Whatever is not
// a whole, plausible record of the file's own day is skipped and counted, line by line; the
// header is not counted. Reads in chunks, so a huge file costs time, never memory beyond what
// its records need.
namespace records {

struct ReadResult
{
    std::vector<Record> records;
    qint64 skipped = 0;
};

// Longer lines cannot be records (a real one is under 80 bytes).
constexpr int longestLine = 200;

// `day` invalid: any day is accepted (an export, a file of no day's name).
void read(QIODevice &device, const QDate &day, ReadResult &into);
bool readFile(const QString &path, const QDate &day, ReadResult &into);
// Every day from `first` to `last` whose file is in `directory`, in day order.
ReadResult readDays(const QString &directory, const QDate &first, const QDate &last);

}  // namespace records
