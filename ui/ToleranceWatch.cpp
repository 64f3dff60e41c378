#include "ui/ToleranceWatch.h"

#include "ui/LimitsDialog.h"
#include "ui/ProbePanels.h"
#include "ui/ReportDialog.h"
#include "ui/StateField.h"

#include <QAction>
#include <QFontMetrics>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QSaveFile>

namespace {

const char *const markProperty = "toleranceMark";

// The mark drawn as the field's trailing icon: the value's text stays the number alone.
QIcon markIcon(const QString &glyph, const QColor &colour, const QFont &font)
{
    const int side = QFontMetrics(font).height();
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, glyph);
    return QIcon(pixmap);
}

}  // namespace

ToleranceWatch::ToleranceWatch(Ui::OrvaUIClass &ui, StateField &state, m::ifc::ILog *log,
                               QObject *parent)
    : QObject(parent), ui(ui), state(state), log(log), journal(log)
{
}

void ToleranceWatch::addActions(QMainWindow *window)
{
    if (QMenu *file = window->findChild<QMenu *>(QStringLiteral("menuFile"))) {
        auto *report = new QAction(QStringLiteral("Отчёт…"), file);
        report->setObjectName(QStringLiteral("actionReport"));
        connect(report, &QAction::triggered, this, [this, window] {
            auto *dialog = new ReportDialog(channelLimits, window);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            dialog->open();
        });
        file->insertAction(file->findChild<QAction *>(QStringLiteral("exitSeparator")), report);
    }
    QMenu *devices = window->findChild<QMenu *>(QStringLiteral("menu_devices"));
    if (!devices)
        return;
    devices->addSeparator();
    devices->addAction(QStringLiteral("Допуски…"), this, [this, window] { editLimits(window); })
        ->setObjectName(QStringLiteral("action_limits"));
    acknowledgeAction = devices->addAction(QStringLiteral("Квитировать допуск"), this,
                                           &ToleranceWatch::acknowledge);
    acknowledgeAction->setObjectName(QStringLiteral("action_acknowledge_tolerance"));
    acknowledgeAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    acknowledgeAction->setEnabled(!alarmed.isEmpty());
}

void ToleranceWatch::loadLimits()
{
    const quality::LimitsFile file = quality::readLimits(limitsPath());
    channelLimits = file.channels;
    if (file.ok()) {
        state.setItem(QStringLiteral("limits"), QString());
        return;
    }
    const QString where =
        QStringLiteral("%1:%2: %3").arg(limitsPath()).arg(file.errorLine).arg(file.error);
    m::writeLine(log, 0, QStringLiteral("Limits ignored: ") + where);
    state.setItem(QStringLiteral("limits"),
                  QStringLiteral("Допуски не прочитаны (строка %1)").arg(file.errorLine), where);
}

void ToleranceWatch::setLimits(const quality::ChannelLimits &limits)
{
    channelLimits = limits;
    state.setItem(QStringLiteral("limits"), QString());
    emit limitsChanged(channelLimits);
}

void ToleranceWatch::judge(records::Record &record)
{
    quality::judge(record, channelLimits);
    const QSet<int> before = alarmed;
    for (int channel = 1; channel <= records::channelCount; ++channel) {
        if (!record.hasChannel(channel))
            continue;
        const auto &limits = channelLimits[size_t(channel - 1)];
        const quality::Verdict verdict =
            limits ? limits->verdict(double(record.calibrated)) : quality::Verdict::None;
        mark(channel, verdict);
        if (verdict == quality::Verdict::Above || verdict == quality::Verdict::Below) {
            alarmed.insert(channel);
            outSinceSummary.insert(channel);
        } else if (verdict == quality::Verdict::InTolerance)
            alarmed.remove(channel);
    }
    if (alarmed != before)
        showAlarm();
}

namespace {

QString channelList(QList<int> channels)
{
    std::sort(channels.begin(), channels.end());
    QStringList numbers;
    for (const int channel : channels)
        numbers << QString::number(channel);
    return (channels.size() == 1 ? QStringLiteral("канал ") : QStringLiteral("каналы ")) +
           numbers.join(QStringLiteral(", "));
}

}  // namespace

QString ToleranceWatch::annotate(const QString &summary)
{
    if (outSinceSummary.isEmpty())
        return summary;
    const QString text =
        summary + QStringLiteral("; вне допуска: ") + channelList(outSinceSummary.values());
    outSinceSummary.clear();
    return text;
}

QList<int> ToleranceWatch::alarmChannels() const
{
    QList<int> channels = alarmed.values();
    std::sort(channels.begin(), channels.end());
    return channels;
}

void ToleranceWatch::acknowledge()
{
    if (alarmed.isEmpty())
        return;
    m::writeLine(log, 0, QStringLiteral("Tolerance alarm acknowledged"));
    alarmed.clear();
    showAlarm();
}

void ToleranceWatch::mark(int channel, quality::Verdict verdict)
{
    QLineEdit *value = probePanels(ui)[size_t(channel - 1)].value;
    if (auto *old = value->property(markProperty).value<QAction *>()) {
        value->removeAction(old);
        delete old;
        value->setProperty(markProperty, QVariant());
    }
    QPalette palette = value->parentWidget()->palette();
    const bool out = verdict == quality::Verdict::Above || verdict == quality::Verdict::Below;
    if (verdict == quality::Verdict::InTolerance)
        palette.setColor(QPalette::Base, QColor(214, 245, 214));
    else if (out)
        palette.setColor(QPalette::Base, QColor(255, 205, 205));
    value->setPalette(palette);
    value->setToolTip(QString());
    if (!out)
        return;
    const bool above = verdict == quality::Verdict::Above;
    auto *action =
        new QAction(markIcon(above ? QStringLiteral("▲") : QStringLiteral("▼"), QColor(170, 0, 0),
                             value->font()),
                    above ? QStringLiteral("Выше допуска") : QStringLiteral("Ниже допуска"), value);
    action->setObjectName(above ? QStringLiteral("markAbove") : QStringLiteral("markBelow"));
    value->addAction(action, QLineEdit::TrailingPosition);
    value->setProperty(markProperty, QVariant::fromValue(action));
    value->setToolTip(action->text());
}

void ToleranceWatch::showAlarm()
{
    const QList<int> channels = alarmChannels();
    state.setItem(
        QStringLiteral("tolerance"),
        channels.isEmpty() ? QString() : QStringLiteral("⚠ Вне допуска: ") + channelList(channels),
        QStringLiteral("Последнее значение вне допуска. Сигнал снимает значение в допуске "
                       "или «Приборы» → «Квитировать допуск» (Ctrl+K)."));
    if (acknowledgeAction)
        acknowledgeAction->setEnabled(!channels.isEmpty());
}

void ToleranceWatch::calibrationIssued(int channel, frames::Command command, uint8_t address,
                                       std::optional<float> measureUm)
{
    if (!quality::calibrationOf(command))
        return;
    // The measure field holds a value whatever is clicked; only a measure point takes it.
    if (command != frames::Command::SetMeasurePoint)
        measureUm.reset();
    pending.push_back({QDateTime::currentDateTime(), channel, command, address, measureUm});
}

void ToleranceWatch::exchangeFinished(const ExchangeOutcome &outcome)
{
    const auto command = quality::calibrationOf(outcome.command);
    if (!command)
        return;
    // Outcomes come in the order the requests went out; a late answer to an exchange already
    // reported unanswered finds nothing left to match.
    const auto match = std::find_if(pending.begin(), pending.end(), [&](const Pending &entry) {
        return entry.command == outcome.command && entry.address == outcome.address;
    });
    if (match == pending.end())
        return;
    const quality::CalibrationEvent event =
        quality::makeEvent(match->time, match->channel, match->address, *command, match->measureUm,
                           quality::answerText(outcome));
    journal.append(event);
    emit calibrationJournalled(event);
    pending.erase(match);
}

void ToleranceWatch::editLimits(QWidget *parent)
{
    auto *dialog = new LimitsDialog(channelLimits, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &LimitsDialog::accepted, this, [this, dialog] {
        QSaveFile file(limitsPath());
        const QByteArray text = quality::formatLimits(dialog->limits());
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
            m::writeLine(log, 0, QStringLiteral("Limits not saved: ") + file.errorString());
            ui.statusBar->showMessage(QStringLiteral("Допуски не сохранены: ") + file.errorString(),
                                      5000);
            return;
        }
        setLimits(dialog->limits());
    });
    dialog->open();
}
