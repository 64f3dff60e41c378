#include "ui/HistoryPage.h"

#include <QVBoxLayout>

HistoryPage::HistoryPage(QTabWidget *tabs, const RecordWriter &writer) : tabs(tabs), writer(writer)
{
    (new QVBoxLayout(this))->setContentsMargins(0, 0, 0, 0);
    tabs->addTab(this, QStringLiteral("История"));
    connect(tabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (this->tabs->widget(index) == this)
            open();
    });
    connect(&writer, &RecordWriter::appended, this, [this](const records::Record &record) {
        if (history)
            history->add(record);
    });
}

void HistoryPage::open()
{
    if (!history) {
        history = new HistoryTab(writer.directory(), this);
        history->setFont(QFont());
        layout()->addWidget(history);
        emit built(history);
    }
    tabs->setCurrentWidget(this);
}
