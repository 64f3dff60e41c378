#pragma once

#include <QLabel>
#include <QString>
#include <QStringList>

// The permanent field at the right of the status bar: what holds now, as opposed to the
// messages that come and go. Each feature owns one named item ("port", "records", ...) and
// sets or clears it; the items show in the order they were first set.
class StateField : public QLabel
{
    Q_OBJECT

public:
    explicit StateField(QWidget *parent = nullptr);

    // An empty text removes the item; a tip, when given, explains it on hover.
    void setItem(const QString &name, const QString &text, const QString &tip = QString());
    QString item(const QString &name) const;

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();

    struct Item
    {
        QString name;
        QString text;
        QString tip;
    };
    QList<Item> items;
};
