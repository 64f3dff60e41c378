#include "report/ReportDocument.h"

#include "Version.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

using quality::Verdict;

constexpr int resolutionDpi = 300;

QString number(double value, int decimals = 2)
{
    return QString::number(value, 'f', decimals);
}

QString timeText(qint64 msecs, int offsetSecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::OffsetFromUTC, offsetSecs)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString limitsText(const std::optional<quality::Limits> &limits)
{
    if (!limits)
        return QStringLiteral("—");
    return number(limits->lower) + QStringLiteral(" … ") + number(limits->upper);
}

QString optionalNumber(const std::optional<double> &value)
{
    return value ? number(*value) : QStringLiteral("—");
}

QString verdictText(Verdict verdict)
{
    return verdict == Verdict::Above ? QStringLiteral("▲ выше") : QStringLiteral("▼ ниже");
}

// Lays the report out on pages. It runs twice: once without a painter to count the pages, then
// painting, so that every footer can say "из N".
class Pages
{
public:
    Pages(QPaintDevice *device, QPainter *painter, int pageCount, const QString &footer)
        : device(device),
          painter(painter),
          page(0, 0, device->width(), device->height()),
          pageCount(pageCount),
          footer(footer)
    {
        body = page.adjusted(0, 0, 0, -lineHeight(footerFont()) * 2);
        y = body.top();
    }

    QPaintDevice *device;
    QPainter *painter;  // none while counting
    QRectF page;
    QRectF body;
    qreal y;
    int pageNumber = 1;
    int pageCount;
    QString footer;

    qreal mm(qreal millimetres) const { return millimetres * device->logicalDpiY() / 25.4; }
    static QFont font(qreal points, bool bold = false)
    {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSizeF(points);
        font.setBold(bold);
        return font;
    }
    static QFont footerFont() { return font(8); }
    // At the device's resolution, while counting too.
    qreal lineHeight(const QFont &font) const { return metrics(font).height() * 1.25; }
    QFontMetricsF metrics(const QFont &font) const { return QFontMetricsF(font, device); }

    void need(qreal height)
    {
        if (y + height > body.bottom() && y > body.top())
            newPage();
    }

    void newPage()
    {
        finishPage();
        ++pageNumber;
        if (painter)
            static_cast<QPagedPaintDevice *>(device)->newPage();
        y = body.top();
    }

    void finishPage()
    {
        if (!painter)
            return;
        painter->setFont(footerFont());
        painter->setPen(Qt::black);
        const QRectF area(page.left(), body.bottom(), page.width(), page.bottom() - body.bottom());
        painter->drawLine(QPointF(page.left(), area.top() + mm(2)),
                          QPointF(page.right(), area.top() + mm(2)));
        painter->drawText(area, Qt::AlignLeft | Qt::AlignBottom, footer);
        painter->drawText(area, Qt::AlignRight | Qt::AlignBottom,
                          QStringLiteral("Страница %1 из %2").arg(pageNumber).arg(pageCount));
    }

    void text(const QString &line, const QFont &font, qreal indent = 0)
    {
        const qreal height = lineHeight(font);
        need(height);
        if (painter) {
            painter->setFont(font);
            painter->setPen(Qt::black);
            painter->drawText(QRectF(body.left() + indent, y, body.width() - indent, height),
                              Qt::AlignLeft | Qt::AlignVCenter, line);
        }
        y += height;
    }

    void gap(qreal millimetres) { y += mm(millimetres); }

    // A table whose columns share the width by the given weights; the header row repeats on
    // every page the table runs onto.
    void table(const QStringList &header, const std::vector<qreal> &weights,
               const std::vector<QStringList> &rows,
               const std::function<QColor(int)> &rowColour = {})
    {
        const QFont headerFont = font(8, true);
        const QFont rowFont = font(8);
        const qreal height = lineHeight(rowFont);
        qreal total = 0;
        for (const qreal weight : weights)
            total += weight;
        const auto drawRow = [&](const QStringList &cells, const QFont &rowFontUsed, QColor colour,
                                 bool shaded) {
            if (!painter)
                return;
            painter->setFont(rowFontUsed);
            if (shaded)
                painter->fillRect(QRectF(body.left(), y, body.width(), height),
                                  QColor(230, 230, 230));
            painter->setPen(colour);
            qreal x = body.left();
            for (int i = 0; i < cells.size() && size_t(i) < weights.size(); ++i) {
                const qreal width = body.width() * weights[size_t(i)] / total;
                painter->drawText(QRectF(x + mm(1), y, width - mm(2), height),
                                  Qt::AlignLeft | Qt::AlignVCenter, cells[i]);
                x += width;
            }
        };
        need(height * 2);
        drawRow(header, headerFont, Qt::black, true);
        y += height;
        for (size_t row = 0; row < rows.size(); ++row) {
            if (y + height > body.bottom()) {
                newPage();
                drawRow(header, headerFont, Qt::black, true);
                y += height;
            }
            drawRow(rows[row], rowFont, rowColour ? rowColour(int(row)) : QColor(Qt::black), false);
            y += height;
        }
    }
};

class Painter
{
public:
    Painter(const quality::ReportContent &content, Pages &pages) : content(content), pages(pages) {}

    void paint()
    {
        header();
        statistics();
        for (const auto &channel : content.channels)
            trend(channel);
        outOfTolerance();
        calibrations();
        pages.finishPage();
    }

private:
    void header()
    {
        const auto &fields = content.request.fields;
        pages.text(QStringLiteral("Отчёт об измерениях толщины"), Pages::font(16, true));
        pages.gap(2);
        const QFont font = Pages::font(10);
        pages.text(QStringLiteral("Заказ: ") + fields.order, font);
        pages.text(QStringLiteral("Партия: ") + fields.batch, font);
        pages.text(QStringLiteral("Линия: ") + fields.line, font);
        pages.text(QStringLiteral("Оператор: ") + fields.operatorName, font);
        pages.text(QStringLiteral("Период: ") +
                       content.request.from.toString(QStringLiteral("yyyy-MM-dd HH:mm")) +
                       QStringLiteral(" — ") +
                       content.request.to.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                   font);
        if (content.skippedLines > 0)
            pages.text(QStringLiteral("Пропущено строк: %1").arg(content.skippedLines), font);
        pages.gap(4);
    }

    void section(const QString &title)
    {
        pages.need(pages.lineHeight(Pages::font(12, true)) * 3);
        pages.gap(2);
        pages.text(title, Pages::font(12, true));
        pages.gap(1);
    }

    void statistics()
    {
        section(QStringLiteral("Статистика"));
        if (content.channels.empty()) {
            pages.text(QStringLiteral("Нет измерений за период."), Pages::font(10));
            return;
        }
        std::vector<QStringList> rows;
        for (const auto &channel : content.channels) {
            const auto &s = channel.statistics;
            rows.push_back({QString::number(channel.channel), QString::number(channel.address),
                            limitsText(channel.limits), QString::number(s.count), number(s.mean),
                            number(s.stddev, 3), number(s.min), number(s.max),
                            s.outShare ? number(*s.outShare * 100, 1) + QStringLiteral(" %")
                                       : QStringLiteral("—"),
                            optionalNumber(s.cp), optionalNumber(s.cpk)});
        }
        pages.table(
            {QStringLiteral("Канал"), QStringLiteral("Адрес"), QStringLiteral("Допуск, мкм"),
             QStringLiteral("Число"), QStringLiteral("Среднее"), QStringLiteral("СКО"),
             QStringLiteral("Мин."), QStringLiteral("Макс."), QStringLiteral("Вне допуска"),
             QStringLiteral("Cp"), QStringLiteral("Cpk")},
            {0.8, 0.8, 1.9, 0.9, 1, 0.9, 1, 1, 1.5, 0.7, 0.7}, rows);
    }

    void trend(const quality::ChannelReport &channel)
    {
        const qreal titleHeight = pages.lineHeight(Pages::font(10, true));
        const qreal chartHeight = pages.mm(55);
        pages.need(titleHeight + chartHeight + pages.mm(6));
        pages.gap(2);
        pages.text(QStringLiteral("Тренд, канал %1, адрес %2, мкм")
                       .arg(channel.channel)
                       .arg(channel.address),
                   Pages::font(10, true));
        const QFont axisFont = Pages::font(7);
        const qreal axisWidth =
            pages.metrics(axisFont).horizontalAdvance(QStringLiteral("-00000.00")) + pages.mm(2);
        const QRectF plot(pages.body.left() + axisWidth, pages.y + pages.mm(1),
                          pages.body.width() - axisWidth, chartHeight - pages.mm(6));
        pages.y += chartHeight;
        QPainter *painter = pages.painter;
        if (!painter)
            return;
        const double from = double(content.request.from.toMSecsSinceEpoch());
        const double to = double(content.request.to.toMSecsSinceEpoch());
        double low = channel.statistics.min, high = channel.statistics.max;
        if (channel.limits) {
            low = std::min(low, channel.limits->lower);
            high = std::max(high, channel.limits->upper);
        }
        const double margin =
            high > low ? (high - low) * 0.08 : std::max(1.0, std::abs(high) * 0.01);
        low -= margin;
        high += margin;
        const auto px = [&](double x) {
            return plot.left() + (x - from) / (to - from) * plot.width();
        };
        const auto py = [&](double y) {
            return plot.bottom() - (y - low) / (high - low) * plot.height();
        };

        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        if (channel.limits) {
            painter->fillRect(QRectF(QPointF(plot.left(), py(channel.limits->upper)),
                                     QPointF(plot.right(), py(channel.limits->lower))),
                              QColor(215, 240, 215));
            painter->setPen(QPen(QColor(200, 0, 0), pages.mm(0.3)));
            for (const double limit : {channel.limits->lower, channel.limits->upper})
                painter->drawLine(QPointF(plot.left(), py(limit)),
                                  QPointF(plot.right(), py(limit)));
            painter->setPen(QPen(QColor(0, 120, 0), pages.mm(0.2), Qt::DashLine));
            painter->drawLine(QPointF(plot.left(), py(channel.limits->nominal)),
                              QPointF(plot.right(), py(channel.limits->nominal)));
        }
        painter->setClipRect(plot);
        painter->setPen(QPen(QColor(230, 120, 0), pages.mm(0.3), Qt::DotLine));
        for (const auto &event : content.calibrations) {
            if (event.channel != 0 && event.channel != channel.channel)
                continue;
            const double x = px(double(event.msecs));
            painter->drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        }
        QPainterPath path;
        for (int i = 0; i < channel.trend.size(); ++i) {
            const QPointF point(px(channel.trend[i].x()), py(channel.trend[i].y()));
            if (i == 0)
                path.moveTo(point);
            else
                path.lineTo(point);
        }
        painter->setPen(QPen(QColor(0, 70, 160), pages.mm(0.25)));
        painter->drawPath(path);
        painter->setClipping(false);

        painter->setPen(QPen(Qt::black, pages.mm(0.2)));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(plot);
        painter->setFont(axisFont);
        const qreal textHeight = pages.metrics(axisFont).height();
        for (int tick = 0; tick <= 4; ++tick) {
            const double value = low + (high - low) * tick / 4;
            painter->drawText(QRectF(pages.body.left(), py(value) - textHeight / 2,
                                     axisWidth - pages.mm(1), textHeight),
                              Qt::AlignRight | Qt::AlignVCenter, number(value));
        }
        for (int tick = 0; tick <= 2; ++tick) {
            const double time = from + (to - from) * tick / 2;
            const Qt::Alignment align = tick == 0   ? Qt::AlignLeft
                                        : tick == 1 ? Qt::AlignHCenter
                                                    : Qt::AlignRight;
            const qreal x = px(time);
            const QRectF area(tick == 0   ? x
                              : tick == 1 ? x - plot.width() / 4
                                          : x - plot.width() / 2,
                              plot.bottom() + pages.mm(0.5), plot.width() / 2, textHeight);
            painter->drawText(area, align | Qt::AlignTop,
                              QDateTime::fromMSecsSinceEpoch(qint64(time))
                                  .toString(QStringLiteral("yyyy-MM-dd HH:mm")));
        }
        painter->restore();
    }

    void outOfTolerance()
    {
        section(QStringLiteral("Значения вне допуска"));
        if (content.outOfToleranceCount == 0) {
            pages.text(QStringLiteral("Нет значений вне допуска."), Pages::font(10));
            return;
        }
        std::vector<QStringList> rows;
        for (const auto &value : content.outOfTolerance) {
            const auto &limits = content.request.limits[size_t(value.channel - 1)];
            rows.push_back({timeText(value.msecs, value.offsetSecs), QString::number(value.channel),
                            QString::number(value.address), number(value.value), limitsText(limits),
                            verdictText(value.verdict)});
        }
        pages.table({QStringLiteral("Время"), QStringLiteral("Канал"), QStringLiteral("Адрес"),
                     QStringLiteral("Значение, мкм"), QStringLiteral("Допуск, мкм"),
                     QStringLiteral("Отклонение")},
                    {2.2, 0.8, 0.8, 1.4, 1.8, 1.2}, rows);
        if (content.outOfToleranceCount > qint64(content.outOfTolerance.size()))
            pages.text(QStringLiteral("Всего вне допуска: %1, показаны первые %2.")
                           .arg(content.outOfToleranceCount)
                           .arg(content.outOfTolerance.size()),
                       Pages::font(9));
    }

    void calibrations()
    {
        section(QStringLiteral("Калибровки"));
        if (content.calibrations.empty()) {
            pages.text(QStringLiteral("Нет калибровок за период."), Pages::font(10));
            return;
        }
        std::vector<QStringList> rows;
        for (const auto &event : content.calibrations)
            rows.push_back({timeText(event.msecs, event.offsetSecs),
                            event.channel ? QString::number(event.channel) : QStringLiteral("—"),
                            QString::number(event.address), quality::commandTitle(event.command),
                            event.measureUm ? number(*event.measureUm) : QString(), event.answer});
        pages.table(
            {QStringLiteral("Время"), QStringLiteral("Канал"), QStringLiteral("Адрес"),
             QStringLiteral("Команда"), QStringLiteral("Мера, мкм"), QStringLiteral("Ответ")},
            {2.2, 0.8, 0.8, 1.1, 1.2, 2}, rows);
    }

    const quality::ReportContent &content;
    Pages &pages;
};

}  // namespace

ReportDocument::ReportDocument(const quality::ReportContent &content, const QDateTime &printed)
    : content(content), printed(printed)
{
}

void ReportDocument::print(QPagedPaintDevice &device) const
{
    device.setPageSize(QPageSize(QPageSize::A4));
    device.setPageMargins(QMarginsF(15, 15, 15, 12), QPageLayout::Millimeter);
    const QString footer =
        QStringLiteral("T7R Demo %1 · напечатано %2")
            .arg(QStringLiteral(T7R_VERSION), printed.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    Pages counting(&device, nullptr, 0, footer);
    Painter(content, counting).paint();
    QPainter painter;
    if (!painter.begin(&device))
        return;
    Pages drawing(&device, &painter, counting.pageNumber, footer);
    Painter(content, drawing).paint();
    painter.end();
}

bool ReportDocument::writePdf(const QString &path, QString *error) const
{
    // Whole or not at all: a report cut short by a full disk must not pass for one.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        {
            QPdfWriter writer(&file);
            writer.setResolution(resolutionDpi);
            writer.setCreator(QStringLiteral("T7R Demo ") + QStringLiteral(T7R_VERSION));
            writer.setTitle(QStringLiteral("Отчёт об измерениях толщины"));
            print(writer);
        }
        if (file.commit())
            return true;
    }
    if (error)
        *error = path + QStringLiteral(": ") + file.errorString();
    return false;
}
