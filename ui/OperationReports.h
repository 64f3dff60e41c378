#pragma once

#include "summary/OperationSummaries.h"
#include "ui/StateField.h"
#include "ui/SummaryLine.h"
#include "ui/ToleranceWatch.h"

#include <QObject>
#include <QStatusBar>
#include <QString>

// What the operator hears of the operations: each summary in the status bar, marked where a
// value left its limits, and the progress of the one that runs in the state field.
class OperationReports : public QObject
{
    Q_OBJECT

public:
    OperationReports(const OperationSummaries &summaries, QStatusBar *bar, StateField &state,
                     ToleranceWatch &tolerance, const QString &measurementName,
                     QObject *parent = nullptr);

private:
    SummaryLine line;
};
