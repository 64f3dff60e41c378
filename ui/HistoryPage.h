#pragma once

#include "records/RecordWriter.h"
#include "ui/HistoryTab.h"
#include "ui/ToleranceWatch.h"

#include <QTabWidget>
#include <QWidget>

// The tab "История": an empty frame until it is first shown, so that start-up reads no record;
// then the history of the records the writer keeps, live results included, against the limits
// and calibrations the tolerance watch keeps.
class HistoryPage : public QWidget
{
    Q_OBJECT

public:
    HistoryPage(QTabWidget *tabs, const RecordWriter &writer, ToleranceWatch &tolerance);

    // Null until the page has been shown.
    HistoryTab *tab() const { return history; }
    // Shows the page, building it on first use.
    void open();

private:
    QTabWidget *tabs;
    const RecordWriter &writer;
    ToleranceWatch &tolerance;
    HistoryTab *history = nullptr;
};
