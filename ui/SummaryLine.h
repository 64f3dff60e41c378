#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QStatusBar;

// Shows the operations' summaries in the status bar without cutting short the messages the
// tool has always shown there ("Не корректный адрес, канал 3" keeps its 5000 ms): a summary
// that comes while such a message has time left waits until it has gone or run out.
class SummaryLine : public QObject
{
    Q_OBJECT

public:
    static constexpr int displayMs = 5000;

    explicit SummaryLine(QStatusBar *bar, QObject *parent = nullptr);

    void show(const QString &summary);

private:
    static constexpr int marginMs = 500;

    void messageChanged(const QString &text);
    void showPending();

    QStatusBar *bar;
    QString shown;
    QString pending;
    // Since the last message that keeps its time appeared.
    QElapsedTimer otherShown;
    QTimer later;
};
