#include "ui/ReportDialog.h"

#include "report/ReportDocument.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

ReportDialog::ReportDialog(const quality::ChannelLimits &limits, QWidget *parent)
    : QDialog(parent), limits(limits)
{
    ui.setupUi(this);
    const QDate today = QDate::currentDate();
    ui.dt_from->setDateTime(today.startOfDay());
    ui.dt_to->setDateTime(QDateTime(today, QTime(23, 59)));
    const quality::ReportFields fields = quality::loadReportFields();
    ui.le_order->setText(fields.order);
    ui.le_batch->setText(fields.batch);
    ui.le_line->setText(fields.line);
    ui.le_operator->setText(fields.operatorName);
    connect(ui.pb_pdf, &QPushButton::clicked, this, &ReportDialog::savePdf);
    connect(ui.pb_print, &QPushButton::clicked, this, &ReportDialog::print);
    connect(ui.pb_close, &QPushButton::clicked, this, &ReportDialog::reject);
}

quality::ReportRequest ReportDialog::request() const
{
    quality::ReportRequest request;
    request.from = ui.dt_from->dateTime();
    // The minute shown is the last one taken, to its end.
    request.to = ui.dt_to->dateTime().addSecs(59).addMSecs(999);
    const QCheckBox *boxes[] = {ui.cb_channel_1, ui.cb_channel_2, ui.cb_channel_3, ui.cb_channel_4,
                                ui.cb_channel_5, ui.cb_channel_6, ui.cb_channel_7, ui.cb_channel_8};
    for (int channel = 1; channel <= records::channelCount; ++channel) {
        if (boxes[channel - 1]->isChecked())
            request.channels << channel;
    }
    request.fields = {ui.le_order->text(), ui.le_batch->text(), ui.le_line->text(),
                      ui.le_operator->text()};
    request.limits = limits;
    return request;
}

bool ReportDialog::writePdf(const QString &path)
{
    const quality::ReportRequest asked = request();
    quality::saveReportFields(asked.fields);
    const quality::ReportContent content = quality::gatherReport(asked);
    QString error;
    if (ReportDocument(content).writePdf(path, &error))
        return true;
    QMessageBox::warning(this, windowTitle(), QStringLiteral("Отчёт не записан: ") + error);
    return false;
}

void ReportDialog::savePdf()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Сохранить отчёт"),
        QStringLiteral("report-%1.pdf").arg(ui.dt_from->date().toString(Qt::ISODate)),
        QStringLiteral("PDF (*.pdf)"));
    if (!path.isEmpty() && writePdf(path))
        accept();
}

void ReportDialog::print()
{
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const quality::ReportRequest asked = request();
    quality::saveReportFields(asked.fields);
    const quality::ReportContent content = quality::gatherReport(asked);
    ReportDocument(content).print(printer);
    accept();
}
