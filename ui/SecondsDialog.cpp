#include "ui/SecondsDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

QString DecimalSpinBox::withLocalePoint(QString text) const
{
    const QChar point = locale().decimalPoint();
    return text.replace(QLatin1Char('.'), point).replace(QLatin1Char(','), point);
}

QValidator::State DecimalSpinBox::validate(QString &text, int &pos) const
{
    text = withLocalePoint(text);
    return QDoubleSpinBox::validate(text, pos);
}

double DecimalSpinBox::valueFromText(const QString &text) const
{
    return QDoubleSpinBox::valueFromText(withLocalePoint(text));
}

SecondsDialog::SecondsDialog(const QString &title, const QString &label, QWidget *parent)
    : QDialog(parent), seconds(new DecimalSpinBox(this))
{
    setWindowTitle(title);
    seconds->setDecimals(1);
    seconds->setToolTip(QStringLiteral("Дробная часть через точку или запятую: 1.5 или 1,5"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // The value typed last counts even when Enter comes before the field has been left.
    connect(this, &QDialog::accepted, this, [this] {
        seconds->interpretText();
        emit secondsSelected(seconds->value());
    });
    auto *layout = new QVBoxLayout(this);
    auto *text = new QLabel(label, this);
    text->setBuddy(seconds);
    layout->addWidget(text);
    layout->addWidget(seconds);
    layout->addWidget(buttons);
}
