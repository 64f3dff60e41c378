#pragma once

#include "records/History.h"

#include <QDate>
#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>

namespace history {

// Reads the chosen days on a thread of its own, so that a year of records never holds up the
// caller's event loop, where the line's timers run. Everything it reports reaches the caller's
// thread by queued signals. A newer load supersedes the one under way, which stops at its next
// day and reports nothing.
class Loader : public QObject
{
    Q_OBJECT

public:
    explicit Loader(QObject *parent = nullptr);
    ~Loader() override;

    // The load's number, as finished() gives it back.
    quint64 load(const QString &directory, const QDate &first, const QDate &last);

signals:
    void progress(quint64 load, int daysRead, int days);
    void finished(quint64 load, std::shared_ptr<history::Model> model);

private:
    QThread thread;
    QObject *worker;
    std::atomic<quint64> latest{0};
};

}  // namespace history

Q_DECLARE_METATYPE(std::shared_ptr<history::Model>)
