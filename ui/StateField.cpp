#include "ui/StateField.h"

#include <QPainter>

#include <algorithm>

StateField::StateField(QWidget *parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("stateField"));
    setTextFormat(Qt::PlainText);
    // However much the items say, the window must not grow past the screen for them.
    setMinimumWidth(fontMetrics().averageCharWidth() * 12);
}

QSize StateField::minimumSizeHint() const
{
    return {minimumWidth(), QLabel::minimumSizeHint().height()};
}

// Cut short at the end with an ellipsis when the status bar is narrower; the tip holds it whole.
void StateField::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect room = contentsRect();
    painter.drawText(room, int(alignment()),
                     fontMetrics().elidedText(text(), Qt::ElideRight, room.width()));
}

void StateField::setItem(const QString &name, const QString &text, const QString &tip)
{
    auto it = std::find_if(items.begin(), items.end(),
                           [&name](const Item &item) { return item.name == name; });
    if (text.isEmpty()) {
        if (it != items.end())
            items.erase(it);
    } else if (it == items.end()) {
        items.append({name, text, tip});
    } else {
        it->text = text;
        it->tip = tip;
    }
    refresh();
}

QString StateField::item(const QString &name) const
{
    for (const Item &item : items) {
        if (item.name == name)
            return item.text;
    }
    return {};
}

void StateField::refresh()
{
    QStringList texts;
    QStringList tips;
    for (const Item &item : items) {
        texts << item.text;
        if (!item.tip.isEmpty())
            tips << item.tip;
    }
    setText(texts.join(QStringLiteral("  |  ")));
    if (!texts.isEmpty())
        tips.prepend(text());
    setToolTip(tips.join(QLatin1Char('\n')));
}
