#pragma once

#include "quality/ReportContent.h"

#include <QDateTime>
#include <QString>

class QPagedPaintDevice;

// Draws a report on A4 pages: the header, a trend per channel with its limits and calibrations,
// the statistics, the values out of tolerance and the calibration events; every page's footer
// names the tool's version, the time of printing and the page. The same drawing goes to a PDF
// file and to a printer.
class ReportDocument
{
public:
    explicit ReportDocument(const quality::ReportContent &content,
                            const QDateTime &printed = QDateTime::currentDateTime());

    // A4 portrait with margins; paints every page.
    void print(QPagedPaintDevice &device) const;
    bool writePdf(const QString &path, QString *error = nullptr) const;

private:
    const quality::ReportContent &content;
    QDateTime printed;
};
