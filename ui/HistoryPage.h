#pragma once

#include "records/RecordWriter.h"
#include "ui/HistoryTab.h"

#include <QTabWidget>
#include <QWidget>

// The tab "История": an empty frame until it is first shown, so that start-up reads no record;
// then the history of the records the writer keeps, live results included.
class HistoryPage : public QWidget
{
    Q_OBJECT

public:
    HistoryPage(QTabWidget *tabs, const RecordWriter &writer);

    // Null until the page has been shown.
    HistoryTab *tab() const { return history; }
    // Shows the page, building it on first use.
    void open();

signals:
    // Once, when the page is first shown.
    void built(HistoryTab *tab);

private:
    QTabWidget *tabs;
    const RecordWriter &writer;
    HistoryTab *history = nullptr;
};
