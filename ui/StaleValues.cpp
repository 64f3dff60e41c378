#include "ui/StaleValues.h"

#include "app/OrvaUI.h"
#include "ui/ProbePanels.h"

namespace {

const char staleProperty[] = "staleValue";

}  // namespace

StaleValues::StaleValues(OrvaUI *window) : QObject(window), window(window)
{
    for (const ProbePanel &panel : probePanels(window->ui)) {
        QLineEdit *value = panel.value;
        for (QPushButton *button : {panel.reset, panel.zero, panel.measure}) {
            connect(button, &QPushButton::clicked, this, [value, button] {
                markStale(value, QStringLiteral("Значение до \"%1\"").arg(button->text()));
            });
        }
        connect(value, &QLineEdit::textChanged, this, [value] { markCurrent(value); });
    }
    connect(&window->portEvents(), &PortEvents::closed, this, [this] {
        for (const ProbePanel &panel : probePanels(this->window->ui))
            markStale(panel.value, QStringLiteral("Значение до закрытия порта"));
    });
}

bool StaleValues::isStale(const QLineEdit *value)
{
    return value->property(staleProperty).toBool();
}

void StaleValues::markStale(QLineEdit *value, const QString &why)
{
    if (value->text().isEmpty() || isStale(value))
        return;
    value->setProperty(staleProperty, true);
    QPalette palette = value->palette();
    palette.setColor(QPalette::Text, palette.color(QPalette::Disabled, QPalette::Text));
    value->setPalette(palette);
    QFont font = value->font();
    font.setItalic(true);
    value->setFont(font);
    value->setToolTip(why + QStringLiteral(": устарело"));
}

void StaleValues::markCurrent(QLineEdit *value)
{
    if (!isStale(value))
        return;
    value->setProperty(staleProperty, false);
    QPalette palette = value->palette();
    palette.setColor(QPalette::Text, value->parentWidget()->palette().color(QPalette::Text));
    value->setPalette(palette);
    QFont font = value->font();
    font.setItalic(false);
    value->setFont(font);
    value->setToolTip(QString());
}
