#pragma once

#include <QDialog>
#include <QDoubleSpinBox>
#include <QString>

// A number with decimals as an operator types it: a point and a comma both separate the
// decimals whatever the locale, and neither is ever taken for a digit group ("1.5" is never 15).
class DecimalSpinBox : public QDoubleSpinBox
{
    Q_OBJECT

public:
    using QDoubleSpinBox::QDoubleSpinBox;

    QValidator::State validate(QString &text, int &pos) const override;
    double valueFromText(const QString &text) const override;

private:
    QString withLocalePoint(QString text) const;
};

// Asks the operator for a number of seconds, in tenths.
class SecondsDialog : public QDialog
{
    Q_OBJECT

public:
    SecondsDialog(const QString &title, const QString &label, QWidget *parent);

    DecimalSpinBox *spinBox() const { return seconds; }

signals:
    void secondsSelected(double seconds);

private:
    DecimalSpinBox *seconds;
};
