#pragma once

#include "ui_OrvaUI.h"

#include <QObject>
#include <QString>

// While an operation we added owns the line (the scan, continuous rounds), the buttons that
// would send on it are disabled and say why in their tooltip, since a request beside the
// operation's own would be refused by the engine or taken for one of its answers.
class LineOwner : public QObject
{
    Q_OBJECT

public:
    explicit LineOwner(const Ui::OrvaUIClass &ui);

    // A second take only changes the reason shown.
    void take(const QString &why);
    void release();
    bool isTaken() const { return !reason.isEmpty(); }

signals:
    // The panels' buttons are the address fields' to enable again.
    void released();

private:
    QList<QPushButton *> buttons() const;

    const Ui::OrvaUIClass &ui;
    QString reason;
};
