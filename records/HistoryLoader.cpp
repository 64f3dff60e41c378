#include "records/HistoryLoader.h"

#include "records/RecordReader.h"

#include <QFileInfo>

namespace history {

Loader::Loader(QObject *parent) : QObject(parent), worker(new QObject)
{
    qRegisterMetaType<std::shared_ptr<history::Loaded>>();
    worker->moveToThread(&thread);
    connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    thread.start(QThread::LowPriority);
}

Loader::~Loader()
{
    latest = 0;
    thread.quit();
    thread.wait();
}

quint64 Loader::load(const QString &directory, const QDate &first, const QDate &last,
                     const quality::ChannelLimits &limits, int width)
{
    const quint64 id = ++latest;
    QMetaObject::invokeMethod(worker, [this, id, directory, first, last, limits, width] {
        const int days = first.isValid() && last.isValid() ? int(first.daysTo(last)) + 1 : 0;
        records::ReadResult result;
        int read = 0;
        for (QDate day = first; read < days; day = day.addDays(1)) {
            if (latest != id)
                return;
            const QString path = directory + QLatin1Char('/') + records::fileName(day);
            if (QFileInfo(path).isFile())
                records::readFile(path, day, result);
            ++read;
            // A percent at a time: each report costs the page a repaint.
            if (read * 100 / days != (read - 1) * 100 / days)
                emit progress(id, read, days);
        }
        auto loaded = std::make_shared<Loaded>();
        loaded->model.set(std::move(result), first, last, limits);
        // The journal of calibrations is a few lines a day.
        loaded->calibrations = quality::readJournalFile(
            directory + QStringLiteral("/calibration.csv"), first.startOfDay().toMSecsSinceEpoch(),
            last.endOfDay().toMSecsSinceEpoch());
        loaded->view = loaded->model.wholeView();
        loaded->width = width;
        if (width > 0) {
            for (const SeriesKey &key : loaded->model.keys())
                reduce(loaded->model.series(key), loaded->view.from, loaded->view.to, width,
                       loaded->reduced[key]);
        }
        if (latest == id)
            emit finished(id, loaded);
    });
    return id;
}

}  // namespace history
