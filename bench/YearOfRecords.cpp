#include "YearOfRecords.h"

#include "records/Record.h"

#include <QDir>
#include <QFile>

#include <cmath>

namespace bench {

int writeYear(const QString &folder, QDate &first)
{
    QDir().mkpath(folder);
    int lines = 0;
    QDate day = QDate::currentDate();
    for (int days = 0; days < 250; day = day.addDays(-1)) {
        if (day.dayOfWeek() > 5)
            continue;
        ++days;
        first = day;
        QFile file(folder + QLatin1Char('/') + records::fileName(day));
        if (!file.open(QIODevice::WriteOnly))
            return -1;
        QByteArray text = records::header();
        const QDateTime start(day, QTime(8, 0));
        for (int minute = 0; minute < 480; ++minute) {
            for (int probe = 1; probe <= records::channelCount; ++probe) {
                const float value = 100.0f + 10.0f * float(probe) +
                                    float(std::sin((days * 480 + minute) / 700.0)) +
                                    float((minute * 7919 + probe * 104729) % 100) / 400.0f;
                text += records::formatLine(records::makeRecord(start.addSecs(minute * 60 + probe),
                                                                {probe}, uint8_t(10 + probe), value,
                                                                value - 0.5f, uint8_t(90 + probe)));
                ++lines;
            }
        }
        file.write(text);
    }
    return lines;
}

}  // namespace bench
