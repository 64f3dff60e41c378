#pragma once

#include <QHash>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>

// Where each widget of the form sits inside the tool's window. It is measured on a window of
// our own, built by the same code on the same display, so that clicks land where an operator's
// would whatever the style and the fonts.
class FormMap
{
public:
    bool measure(QString *error);
    QRect rect(const QString &objectName) const { return rects.value(objectName); }

private:
    QHash<QString, QRect> rects;
};

// The operator at the tool's window: mouse and keyboard through xdotool on the virtual
// display, eyes through screenshots.
class Operator
{
public:
    explicit Operator(const FormMap &form) : form(form) {}

    // Finds the visible window of the process `pid`.
    bool attach(qint64 pid, int timeoutMs);

    bool click(const QString &widget);
    bool press(const QString &key);
    // Replaces the text of a line edit and finishes the edit with Return.
    bool fill(const QString &widget, const QString &text);
    // Opens the port list and takes its last entry.
    bool chooseLastPort();

    QImage screenshot() const;
    // Whether glyphs are drawn on the widget's face: an empty field or box has none.
    bool showsText(const QString &widget) const;
    bool closeWindow() const;

    QString lastError() const { return error; }

private:
    bool xdotool(const QStringList &arguments, QString *output = nullptr);

    const FormMap &form;
    unsigned long window = 0;
    QString error;
};
