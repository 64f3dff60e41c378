#pragma once

#include "VirtualDisplay.h"

#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QScreen>
#include <QString>
#include <QStringList>

// The operator at the tool's window: mouse and keyboard through xdotool on the virtual display,
// eyes through screenshots.
class Operator
{
public:
    // Where each widget of the form sits inside the tool's window, measured on a window of our
    // own, built by the same code on the same display, so that clicks land where an operator's
    // would whatever the style and the fonts.
    bool measureForm();
    // Finds the visible window of the process `pid`.
    bool attach(qint64 pid, int timeoutMs);

    bool click(const QString &widget);
    // Replaces the text of a line edit and finishes the edit with Return.
    bool fill(const QString &widget, const QString &text);
    // Opens the port list and takes its last entry; true once the list has closed again.
    bool chooseLastPort();

    QImage screenshot() const
    {
        return QGuiApplication::primaryScreen()->grabWindow(window).toImage();
    }
    // Whether glyphs are drawn on the widget's face: an empty field or box has none.
    bool showsText(const QString &widget) const;
    bool closeWindow() const { return VirtualDisplay::askToClose(window); }

    QString lastError() const { return error; }
    void setError(const QString &text) { error = text; }

private:
    bool xdotool(const QStringList &arguments, QString *output = nullptr);
    // The ids of the tool's visible windows.
    QStringList windows();
    // Whether the tool shows `count` windows within `timeoutMs`. The port list is a window of
    // its own: a click elsewhere while it is still open would only close it.
    bool visibleWindows(int count, int timeoutMs);

    QHash<QString, QRect> form;
    qint64 pid = 0;
    unsigned long window = 0;
    QString error;
};
