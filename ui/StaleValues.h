#pragma once

#include <QObject>
#include <QString>

class OrvaUI;
class QLineEdit;

// A value no longer what the probe would measure is shown as old: grey, slanted, with a tip that
// says why. "Сброс", "Ноль" and "Мера" change what the probe measures; a closed port means
// nothing shown is current. The next value the panel gets is current again.
class StaleValues : public QObject
{
    Q_OBJECT

public:
    explicit StaleValues(OrvaUI *window);

    static bool isStale(const QLineEdit *value);

private:
    static void markStale(QLineEdit *value, const QString &why);
    static void markCurrent(QLineEdit *value);

    OrvaUI *window;
};
