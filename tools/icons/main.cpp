// Writes the tool's icon for the desktop: t7r-demo.svg and t7r-demo-N.png for the hicolor
// sizes, from the drawing the window uses.
// Usage: t7r-icons OUTPUT_FOLDER

#include "icon/AppIcon.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Drawing needs no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.exists() && !QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    for (const int side : {16, 24, 32, 48, 64, 128, 256}) {
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        appicon::paint(painter, side);
        painter.end();
        const QString path = folder.filePath(QStringLiteral("t7r-demo-%1.png").arg(side));
        if (!image.save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }

    QSvgGenerator svg;
    svg.setFileName(folder.filePath(QStringLiteral("t7r-demo.svg")));
    svg.setSize(QSize(64, 64));
    svg.setViewBox(QRect(0, 0, 64, 64));
    svg.setTitle(QStringLiteral("T7R Demo"));
    QPainter painter;
    if (!painter.begin(&svg)) {
        std::fprintf(stderr, "cannot write the SVG icon\n");
        return 1;
    }
    appicon::paint(painter, 64);
    painter.end();
    return 0;
}
