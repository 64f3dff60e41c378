#include "Operator.h"

#include "VirtualDisplay.h"
#include "app/OrvaUI.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest/QTest>

bool Operator::measureForm()
{
    // The window reads settings.cfg and writes its log in the working directory.
    QTemporaryDir scratch;
    const QString previous = QDir::currentPath();
    if (scratch.isValid() && QDir::setCurrent(scratch.path())) {
        OrvaUI window;
        window.show();
        if (QTest::qWaitForWindowExposed(&window, 10000)) {
            for (const QWidget *widget : window.findChildren<QWidget *>())
                form.insert(widget->objectName(),
                            QRect(widget->mapTo(&window, QPoint(0, 0)), widget->size()));
        }
    }
    QDir::setCurrent(previous);
    error =
        form.isEmpty() ? QStringLiteral("the form could not be shown for measuring") : QString();
    return !form.isEmpty();
}

bool Operator::attach(qint64 toolPid, int timeoutMs)
{
    pid = toolPid;
    if (!QTest::qWaitFor([&] { return (window = windows().value(0).toULong()) != 0; }, timeoutMs)) {
        error =
            QStringLiteral("no visible window of process %1 within %2 ms").arg(pid).arg(timeoutMs);
        return false;
    }
    error.clear();  // searches before the window was shown failed
    return xdotool({"windowfocus", QString::number(window)});
}

bool Operator::click(const QString &widget)
{
    if (!form.contains(widget)) {
        error = QStringLiteral("no widget %1 in the form").arg(widget);
        return false;
    }
    const QPoint center = form.value(widget).center();
    return xdotool({"mousemove", "--window", QString::number(window), QString::number(center.x()),
                    QString::number(center.y()), "click", "1"});
}

bool Operator::fill(const QString &widget, const QString &text)
{
    return click(widget) && xdotool({"key", "ctrl+a"}) &&
           xdotool({"type", "--delay", "20", text}) && xdotool({"key", "Return"});
}

bool Operator::chooseLastPort()
{
    if (!click(QStringLiteral("cb_ports")))
        return false;
    // A slow machine may take the click's release for a choice in the list it has just opened,
    // and close it again. The box keeps the focus then, and End takes the last entry as well.
    const bool opened = visibleWindows(2, 3000);
    if (!xdotool({"key", "End"}) ||
        ((opened || visibleWindows(2, 0)) && !xdotool({"key", "Return"})))
        return false;
    if (visibleWindows(1, 10000))
        return true;
    error = QStringLiteral("the port list did not close");
    return false;
}

QStringList Operator::windows()
{
    QString found;
    // No window at all is an error to xdotool, and counts as none.
    xdotool({"search", "--onlyvisible", "--pid", QString::number(pid)}, &found);
    return found.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool Operator::visibleWindows(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return windows().size() == count; }, timeoutMs);
}

bool Operator::showsText(const QString &widget) const
{
    // The face without its frame, and without the arrow of a combo box.
    QRect face = form.value(widget).adjusted(4, 4, -4, -4);
    if (widget.startsWith(QLatin1String("cb_")))
        face.setWidth(face.width() * 3 / 5);
    const QImage image = screenshot().copy(face);
    // Darker than any face, frame or gradient of the style: only glyphs are.
    int dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            dark += qGray(image.pixel(x, y)) < 96;
    }
    return dark >= 30;
}

bool Operator::xdotool(const QStringList &arguments, QString *output)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    const bool finished = process.waitForFinished(10000);
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        process.kill();
        error = QStringLiteral("xdotool %1 failed: %2")
                    .arg(arguments.join(QLatin1Char(' ')),
                         QString::fromLocal8Bit(process.readAllStandardError()).trimmed());
        return false;
    }
    return true;
}
