// Draws the picture beside the probe panels: where a probe shows its device address.
// Usage: addrpicture [output.png]   (default ui/addr.png)

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>

namespace {

constexpr int width = 105;
constexpr int height = 284;
// The window's group box leaves the label 99 columns; the rest is cut off on screen.
constexpr int visibleWidth = 99;

void drawCaption(QPainter &painter)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(0x20, 0x20, 0x20));
    painter.drawText(QRect(5, 4, visibleWidth - 6, 78),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                     QStringLiteral("Адрес прибора показан на его дисплее"));
}

void drawProbe(QPainter &painter)
{
    // Body of the gauge with its cable at the bottom.
    painter.setPen(QPen(QColor(0x40, 0x40, 0x48), 2));
    painter.setBrush(QColor(0xc8, 0xcc, 0xd2));
    painter.drawRoundedRect(QRectF(10, 96, 85, 150), 10, 10);
    painter.setBrush(QColor(0x30, 0x30, 0x30));
    painter.drawRect(QRectF(46, 246, 13, 34));

    // Display.
    const QRectF display(17, 106, 71, 84);
    painter.setPen(QPen(QColor(0x20, 0x20, 0x20), 2));
    painter.setBrush(QColor(0x1c, 0x2a, 0x22));
    painter.drawRect(display);

    // The address line at the top of the display, framed; the reading below it.
    QFont digits(QStringLiteral("DejaVu Sans Mono"));
    digits.setPixelSize(17);
    digits.setBold(true);
    painter.setFont(digits);
    painter.setPen(QColor(0x7c, 0xf0, 0x8c));
    painter.drawText(QRectF(17, 113, 71, 26), Qt::AlignCenter, QStringLiteral("012"));
    painter.drawText(QRectF(17, 148, 71, 24), Qt::AlignCenter, QStringLiteral("125.4"));

    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(10);
    painter.setFont(small);
    painter.drawText(QRectF(17, 170, 71, 14), Qt::AlignCenter, QStringLiteral("мкм"));

    painter.setPen(QPen(QColor(0xe0, 0x20, 0x20), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(27, 113, 51, 26));

    // Arrow from the caption down to the frame.
    painter.drawLine(QPointF(52, 76), QPointF(52, 104));
    painter.setBrush(QColor(0xe0, 0x20, 0x20));
    painter.drawPolygon(QPolygonF({QPointF(46, 103), QPointF(58, 103), QPointF(52, 111)}));

    // Two keys below the display.
    painter.setPen(QPen(QColor(0x40, 0x40, 0x48), 1));
    painter.setBrush(QColor(0x60, 0x64, 0x6c));
    painter.drawEllipse(QRectF(24, 204, 22, 22));
    painter.drawEllipse(QRectF(59, 204, 22, 22));
}

}  // namespace

int main(int argc, char *argv[])
{
    // Fonts need a platform; this tool never opens a window.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString output =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("ui/addr.png");

    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        // The drawing below is centred on column 52; the visible part's centre is column 49.
        painter.translate((visibleWidth - width) / 2.0, 0);
        drawCaption(painter);
        drawProbe(painter);
    }
    // 8-bit RGB without alpha, as the window expects.
    if (!image.convertToFormat(QImage::Format_RGB888).save(output, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(output));
        return 1;
    }
    return 0;
}
