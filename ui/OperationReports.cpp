#include "ui/OperationReports.h"

namespace {

// "идёт измерение: 3 из 8" while an all-probe operation runs, and that it ended after.
QString progressText(const QString &name, int done, int total, bool measurement)
{
    const QString what =
        measurement ? QStringLiteral("измерение") : QStringLiteral("«%1»").arg(name);
    return done < total ? QStringLiteral("идёт %1: %2 из %3").arg(what).arg(done).arg(total)
                        : QStringLiteral("%1 закончено").arg(what);
}

}  // namespace

OperationReports::OperationReports(const OperationSummaries &summaries, QStatusBar *bar,
                                   StateField &state, ToleranceWatch &tolerance,
                                   const QString &measurementName, QObject *parent)
    : QObject(parent), line(bar)
{
    connect(&summaries, &OperationSummaries::summary_Signal, this,
            [this, &tolerance](const QString &text) { line.show(tolerance.annotate(text)); });
    connect(&summaries, &OperationSummaries::progress_Signal, this,
            [&state, measurementName](const QString &name, int done, int total) {
                state.setItem(QStringLiteral("operation"),
                              progressText(name, done, total, name == measurementName));
            });
}
