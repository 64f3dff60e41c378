#include "ui/SummaryLine.h"

#include <QStatusBar>

namespace {

// The messages the tool has always shown, which keep their full time: an address field's, the
// measure value's and the connection's. Those of later features (continuous rounds, the scan)
// give way to a summary as before.
bool keepsItsTime(const QString &text)
{
    return text.startsWith(QStringLiteral("Не корректный адрес, канал ")) ||
           text == QStringLiteral("Не корректное значение меры") ||
           text == QStringLiteral("Устройство подключено") ||
           text == QStringLiteral("Устройство не подключено");
}

}  // namespace

SummaryLine::SummaryLine(QStatusBar *bar, QObject *parent) : QObject(parent), bar(bar)
{
    later.setSingleShot(true);
    later.setTimerType(Qt::PreciseTimer);
    connect(&later, &QTimer::timeout, this, &SummaryLine::showPending);
    connect(bar, &QStatusBar::messageChanged, this, &SummaryLine::messageChanged);
}

void SummaryLine::show(const QString &summary)
{
    pending = summary;
    showPending();
}

void SummaryLine::messageChanged(const QString &text)
{
    // Not from within the status bar's signal: its other receivers are still to hear of the
    // message that went.
    if (text.isEmpty()) {
        if (!pending.isEmpty())
            later.start(0);
    } else if (text != shown && keepsItsTime(text)) {
        otherShown.start();
    }
}

// A message with a time-out clears itself, and the summary follows at once. One without
// ("Не корректное значение меры") stays until replaced: after its displayMs, and a margin that
// lets the status bar's own (coarse) timer clear the others first, the summary replaces it.
void SummaryLine::showPending()
{
    if (pending.isEmpty())
        return;
    const QString current = bar->currentMessage();
    const bool otherShowing = current != shown && keepsItsTime(current);
    const qint64 left =
        otherShowing && otherShown.isValid() ? displayMs + marginMs - otherShown.elapsed() : 0;
    if (left > 0) {
        later.start(int(left));
        return;
    }
    later.stop();
    shown = pending;
    pending.clear();
    bar->showMessage(shown, displayMs);
}
