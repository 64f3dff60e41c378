#include "Operator.h"

#include "VirtualDisplay.h"
#include "app/OrvaUI.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest/QTest>

namespace {

constexpr int xdotoolTimeoutMs = 10000;
// Darker than any face, frame or gradient of the style: only glyphs are.
constexpr int glyphGray = 96;
constexpr int glyphPixels = 30;

}  // namespace

bool FormMap::measure(QString *error)
{
    // The window reads settings.cfg and writes its log in the working directory.
    QTemporaryDir scratch;
    const QString previous = QDir::currentPath();
    if (!scratch.isValid() || !QDir::setCurrent(scratch.path())) {
        *error = QStringLiteral("no scratch directory for measuring the form");
        return false;
    }
    {
        OrvaUI window;
        window.show();
        if (QTest::qWaitForWindowExposed(&window, 10000)) {
            for (const QWidget *widget : window.findChildren<QWidget *>()) {
                if (!widget->objectName().isEmpty())
                    rects.insert(widget->objectName(),
                                 QRect(widget->mapTo(&window, QPoint(0, 0)), widget->size()));
            }
        }
    }
    QDir::setCurrent(previous);
    if (rects.isEmpty())
        *error = QStringLiteral("the form could not be shown for measuring");
    return !rects.isEmpty();
}

bool Operator::attach(qint64 pid, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    do {
        QString found;
        if (xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                     QStringLiteral("--pid"), QString::number(pid)},
                    &found)) {
            window = found.split(QLatin1Char('\n'), Qt::SkipEmptyParts).value(0).toULong();
            if (window != 0)
                return xdotool({QStringLiteral("windowfocus"), QString::number(window)});
        }
        QTest::qWait(100);
    } while (clock.elapsed() < timeoutMs);
    error = QStringLiteral("no visible window of process %1 within %2 ms").arg(pid).arg(timeoutMs);
    return false;
}

bool Operator::click(const QString &widget)
{
    const QRect rect = form.rect(widget);
    if (rect.isEmpty()) {
        error = QStringLiteral("no widget %1 in the form").arg(widget);
        return false;
    }
    return xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"),
                    QString::number(window), QString::number(rect.center().x()),
                    QString::number(rect.center().y()), QStringLiteral("click"),
                    QStringLiteral("1")});
}

bool Operator::press(const QString &key)
{
    return xdotool({QStringLiteral("key"), key});
}

bool Operator::fill(const QString &widget, const QString &text)
{
    return click(widget) && press(QStringLiteral("ctrl+a")) &&
           xdotool(
               {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), text}) &&
           press(QStringLiteral("Return"));
}

bool Operator::chooseLastPort()
{
    return click(QStringLiteral("cb_ports")) && press(QStringLiteral("End")) &&
           press(QStringLiteral("Return"));
}

QImage Operator::screenshot() const
{
    return QGuiApplication::primaryScreen()->grabWindow(window).toImage();
}

bool Operator::showsText(const QString &widget) const
{
    // The face without its frame, and without the arrow of a combo box.
    QRect face = form.rect(widget).adjusted(4, 4, -4, -4);
    if (widget.startsWith(QLatin1String("cb_")))
        face.setWidth(face.width() * 3 / 5);
    const QImage image = QGuiApplication::primaryScreen()
                             ->grabWindow(window, face.x(), face.y(), face.width(), face.height())
                             .toImage();
    int dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            dark += qGray(image.pixel(x, y)) < glyphGray;
    }
    return dark >= glyphPixels;
}

bool Operator::closeWindow() const
{
    return VirtualDisplay::askToClose(window);
}

bool Operator::xdotool(const QStringList &arguments, QString *output)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(xdotoolTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        error = QStringLiteral("xdotool %1 did not finish").arg(arguments.join(QLatin1Char(' ')));
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        error = QStringLiteral("xdotool %1: %2")
                    .arg(arguments.join(QLatin1Char(' ')),
                         QString::fromLocal8Bit(process.readAllStandardError()).trimmed());
        return false;
    }
    return true;
}
