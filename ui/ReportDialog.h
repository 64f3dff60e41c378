#pragma once

#include "quality/ReportContent.h"
#include "ui_ReportDialog.h"

#include <QDialog>

// "Файл" → "Отчёт…": the range, the channels and the header fields (remembered per working
// folder in report.ini); writes the report as PDF or sends it to a printer.
class ReportDialog : public QDialog
{
    Q_OBJECT

public:
    ReportDialog(const quality::ChannelLimits &limits, QWidget *parent = nullptr);

    // What the dialog asks for now; the header fields are remembered as it is made.
    quality::ReportRequest request() const;
    bool writePdf(const QString &path);

    Ui::ReportDialog ui;

private:
    void savePdf();
    void print();

    quality::ChannelLimits limits;
};
