#pragma once

#include "quality/CalibrationJournal.h"
#include "quality/Limits.h"
#include "records/History.h"

#include <QDate>
#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <map>
#include <memory>
#include <vector>

namespace history {

// All a page needs to show the chosen days at once: the model with its statistics, the
// calibrations journalled on those days, and each curve already reduced for the whole view
// at the width asked for.
struct Loaded
{
    Model model;
    std::vector<quality::CalibrationEvent> calibrations;
    TimeRange view;
    int width = 0;
    std::map<SeriesKey, Reduced> reduced;
};

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

    // The load's number, as finished() gives it back. `width` is the plot's, in pixels.
    quint64 load(const QString &directory, const QDate &first, const QDate &last,
                 const quality::ChannelLimits &limits = {}, int width = 0);

signals:
    void progress(quint64 load, int daysRead, int days);
    void finished(quint64 load, std::shared_ptr<history::Loaded> loaded);

private:
    QThread thread;
    QObject *worker;
    std::atomic<quint64> latest{0};
};

}  // namespace history

Q_DECLARE_METATYPE(std::shared_ptr<history::Loaded>)
