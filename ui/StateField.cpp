#include "ui/StateField.h"

#include <algorithm>

StateField::StateField(QWidget *parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("stateField"));
    setTextFormat(Qt::PlainText);
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
    setToolTip(tips.join(QLatin1Char('\n')));
}
