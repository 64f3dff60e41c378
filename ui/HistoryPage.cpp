#include "ui/HistoryPage.h"

#include <QVBoxLayout>

HistoryPage::HistoryPage(QTabWidget *tabs, const RecordWriter &writer, ToleranceWatch &tolerance)
    : tabs(tabs), writer(writer), tolerance(tolerance)
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
        history->setLimits(tolerance.limits());
        connect(&tolerance, &ToleranceWatch::limitsChanged, history, &HistoryTab::setLimits);
        connect(&tolerance, &ToleranceWatch::calibrationJournalled, history,
                &HistoryTab::addCalibration);
    }
    tabs->setCurrentWidget(this);
}
