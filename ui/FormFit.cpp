#include "ui/FormFit.h"

#include "ui/ProbePanels.h"

#include <QAbstractItemView>
#include <QFontDatabase>
#include <QFontInfo>
#include <QScreen>
#include <QScrollArea>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>

#include <algorithm>
#include <cmath>
#include <vector>

namespace formfit {

namespace {

constexpr double designDpi = 96.0;
constexpr int designWidth = 898;
constexpr int designHeight = 536;

// Families tried after the desktop's own, narrowest first; all come with Debian's standard
// fonts (fonts-dejavu, fonts-liberation2) or with Windows.
const char *const narrowerFamilies[] = {"DejaVu Sans Condensed", "Liberation Sans", "Arial"};

// The factor by which a rectangle `width` wide must grow so that `text` fits beside the
// `overhead` the style keeps round it (frames, arrows, margins), which does not grow.
double need(int textWidth, int overhead, int width)
{
    return width > 0 ? double(textWidth + overhead) / double(width) : 1.0;
}

int textWidth(const QWidget *widget, const QString &text)
{
    return widget->fontMetrics().horizontalAdvance(text);
}

int buttonRoom(const QPushButton *button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    if (button->autoDefault())
        option.features |= QStyleOptionButton::AutoDefaultButton;
    return button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
}

int comboRoom(const QComboBox *box)
{
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.editable = box->isEditable();
    // The label is drawn one pixel in from each side of the edit field.
    return box->style()
               ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box)
               .width() -
           2;
}

int groupTitleLeft(const QGroupBox *box)
{
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.text = box->title();
    option.subControls = QStyle::SC_GroupBoxLabel;
    option.lineWidth = 1;
    return box->style()
        ->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box)
        .left();
}

// The largest factor any text of the form asks for with the fonts it has now.
double neededFactor(Ui::OrvaUIClass &ui)
{
    double factor = 0;
    for (QObject *child : ui.tab_4->findChildren<QWidget *>()) {
        if (auto *label = qobject_cast<QLabel *>(child); label && !label->text().isEmpty()) {
            const int width = label->width();
            factor = std::max(factor, need(textWidth(label, label->text()),
                                           width - label->contentsRect().width(), width));
        } else if (auto *button = qobject_cast<QPushButton *>(child)) {
            const int width = button->width();
            factor = std::max(
                factor, need(textWidth(button, button->text()), width - buttonRoom(button), width));
        }
    }
    QComboBox *ports = ui.cb_ports;
    int longest = textWidth(ports, referencePortName);
    for (int i = 0; i < ports->count(); ++i)
        longest = std::max(longest, textWidth(ports, ports->itemText(i)));
    factor = std::max(factor, need(longest, ports->width() - comboRoom(ports), ports->width()));

    // A panel's title must end before its address field, which sits in the title row.
    for (const ProbePanel &panel : probePanels(ui)) {
        auto *box = qobject_cast<QGroupBox *>(panel.address->parentWidget());
        const int left = groupTitleLeft(box);
        factor = std::max(factor, need(textWidth(box, box->title()), left, panel.address->x()));
    }
    return factor;
}

void setFamily(Ui::OrvaUIClass &ui, const QString &family)
{
    for (QWidget *widget :
         {static_cast<QWidget *>(ui.centralWidget), static_cast<QWidget *>(ui.pb_connect)}) {
        QFont font = widget->font();
        font.setFamily(family);
        widget->setFont(font);
    }
}

bool installed(const QString &family)
{
    QFont font(family);
    return QFontInfo(font).family().compare(family, Qt::CaseInsensitive) == 0;
}

QRect scaled(const QRect &rect, double factor)
{
    const int left = int(std::lround(rect.x() * factor));
    const int top = int(std::lround(rect.y() * factor));
    return {left, top, int(std::ceil((rect.x() + rect.width()) * factor)) - left,
            int(std::ceil((rect.y() + rect.height()) * factor)) - top};
}

void scaleChildren(QWidget *parent, double factor)
{
    for (QWidget *child : parent->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        // The picture's box lays its label out itself.
        if (parent->layout() && parent->layout()->indexOf(child) >= 0)
            continue;
        child->setGeometry(scaled(child->geometry(), factor));
        if (qobject_cast<QGroupBox *>(child))
            scaleChildren(child, factor);
    }
}

// The form keeps its size: on a screen too small for it, it scrolls inside its tab, and the
// window with its menu and status bar stays on the screen.
void scrollInTab(Ui::OrvaUIClass &ui)
{
    QTabWidget *tabs = ui.tabWidget;
    const int index = tabs->indexOf(ui.tab_4);
    const QString title = tabs->tabText(index);
    tabs->removeTab(index);
    auto *area = new QScrollArea;
    area->setObjectName(QStringLiteral("measurementScroll"));
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setWidget(ui.tab_4);
    tabs->insertTab(index, area, title);
    tabs->setCurrentIndex(index);
}

}  // namespace

double fit(QMainWindow *window, Ui::OrvaUIClass &ui)
{
    const double resolution = ui.centralWidget->logicalDpiY() / designDpi;

    // The desktop's own family stays unless a narrower one needs less room.
    const QString own = QFontInfo(ui.centralWidget->font()).family();
    QString best = own;
    double bestFactor = neededFactor(ui);
    for (const char *candidate : narrowerFamilies) {
        if (bestFactor <= std::max(1.0, resolution))
            break;
        const QString family = QString::fromLatin1(candidate);
        if (!installed(family))
            continue;
        setFamily(ui, family);
        const double factor = neededFactor(ui);
        if (factor < bestFactor) {
            best = family;
            bestFactor = factor;
        }
    }
    if (best != QFontInfo(ui.centralWidget->font()).family())
        setFamily(ui, best);

    // The rectangles round outwards; a hair more keeps a text that needs exactly its room.
    const double factor = std::max({1.0, resolution, bestFactor > 1.0 ? bestFactor + 0.002 : 0.0});
    if (factor > 1.0)
        scaleChildren(ui.tab_4, factor);
    // Shrinking the window must not hide a control: what does not fit, scrolls.
    ui.tab_4->setMinimumSize(ui.tab_4->childrenRect().bottomRight().x() + 10,
                             ui.tab_4->childrenRect().bottomRight().y() + 10);
    scrollInTab(ui);
    const QSize wanted(int(std::ceil(designWidth * factor)), int(std::ceil(designHeight * factor)));
    window->resize(wanted.boundedTo(window->screen()->availableGeometry().size()));
    fitPortPopup(ui.cb_ports);
    QObject::connect(ui.cb_ports->model(), &QAbstractItemModel::rowsInserted, ui.cb_ports,
                     [ports = ui.cb_ports] { fitPortPopup(ports); });
    return factor;
}

void fitPortPopup(QComboBox *ports)
{
    int longest = 0;
    for (int i = 0; i < ports->count(); ++i)
        longest = std::max(longest, ports->fontMetrics().horizontalAdvance(ports->itemText(i)));
    QAbstractItemView *view = ports->view();
    // Item margins and a scroll bar besides the text.
    const int frame = 2 * view->frameWidth() +
                      4 * ports->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) +
                      ports->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    view->setMinimumWidth(longest + frame +
                          ports->fontMetrics().horizontalAdvance(QLatin1Char('M')));
}

}  // namespace formfit
