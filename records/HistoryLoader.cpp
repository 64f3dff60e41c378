#include "records/HistoryLoader.h"

#include "records/RecordReader.h"

#include <QFileInfo>

namespace history {

Loader::Loader(QObject *parent) : QObject(parent), worker(new QObject)
{
    qRegisterMetaType<std::shared_ptr<history::Model>>();
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

quint64 Loader::load(const QString &directory, const QDate &first, const QDate &last)
{
    const quint64 id = ++latest;
    QMetaObject::invokeMethod(worker, [this, id, directory, first, last] {
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
        auto model = std::make_shared<Model>();
        model->set(std::move(result), first, last);
        if (latest == id)
            emit finished(id, model);
    });
    return id;
}

}  // namespace history
