#pragma once

#include <QDialog>
#include <QString>

// A long text to read, such as the guide: it scrolls inside a box that the screen can hold,
// where a message box would grow past the screen's edge with its button.
class TextDialog : public QDialog
{
    Q_OBJECT

public:
    TextDialog(const QString &title, const QString &text, QWidget *parent);
};
