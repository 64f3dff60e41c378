#include "ui/TextDialog.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>

#include <climits>

namespace {

// Lines of about this many characters read best.
constexpr int lineCharacters = 72;

}  // namespace

TextDialog::TextDialog(const QString &title, const QString &text, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(title);
    auto *view = new QPlainTextEdit(this);
    view->setReadOnly(true);
    view->setPlainText(text);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(view);
    layout->addWidget(buttons);

    const QFontMetrics metrics(view->font());
    const int textWidth = metrics.averageCharWidth() * lineCharacters;
    const int textHeight =
        metrics.boundingRect(QRect(0, 0, textWidth, INT_MAX), Qt::TextWordWrap, text).height();
    const int frame = 2 * view->frameWidth() + 2 * int(view->document()->documentMargin()) +
                      view->verticalScrollBar()->sizeHint().width();
    const QMargins margins = layout->contentsMargins();
    const QSize wanted(textWidth + frame + margins.left() + margins.right(),
                       textHeight + frame + buttons->sizeHint().height() + layout->spacing() +
                           margins.top() + margins.bottom());
    // Nine tenths leave room for the window frame and the desktop's panels.
    const QSize room = (parent ? parent->screen() : screen())->availableGeometry().size() * 0.9;
    resize(wanted.boundedTo(room));
}
