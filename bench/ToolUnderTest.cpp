#include "ToolUnderTest.h"

#include "app/OrvaUI.h"
#include "ui/ProbePanels.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <chrono>

namespace bench {

namespace {

const QByteArray refusedLine = "Packet not sended. Waiting after the previous command.";

}  // namespace

int refusedCount(const QList<QByteArray> &logLines)
{
    int count = 0;
    for (const QByteArray &line : logLines)
        count += line.contains(refusedLine) ? 1 : 0;
    return count;
}

QList<QByteArray> troubleLines(const QList<QByteArray> &logLines)
{
    static const QByteArray marks[] = {refusedLine, "Bad hash", "Wrong response size", "Error:"};
    QList<QByteArray> trouble;
    for (const QByteArray &line : logLines) {
        for (const QByteArray &mark : marks) {
            if (line.contains(mark)) {
                trouble.append(line);
                break;
            }
        }
    }
    return trouble;
}

qint64 steadyUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

ToolUnderTest::ToolUnderTest(int delay, const std::vector<uint8_t> &addresses,
                             const QByteArray &limits, const QByteArray &publishConfig)
    : previousDirectory(QDir::currentPath())
{
    if (!directory.isValid())
        return;
    QFile settings(directory.filePath(QStringLiteral("settings.cfg")));
    if (!settings.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    // The delay is read only from a complete file: the port line, eight probes, the delay.
    settings.write("Port=COM2\n");
    for (int probe = 0; probe < probes; ++probe) {
        const int address = size_t(probe) < addresses.size() ? addresses[probe] : 0;
        settings.write(QStringLiteral("Probe%1=%2\n").arg(probe + 1).arg(address).toLatin1());
    }
    settings.write(QStringLiteral("Delay=%1\n").arg(delay).toLatin1());
    settings.close();
    if (!limits.isEmpty()) {
        QFile limitsFile(directory.filePath(QStringLiteral("limits.ini")));
        if (!limitsFile.open(QIODevice::WriteOnly) || limitsFile.write(limits) != limits.size())
            return;
    }
    if (!publishConfig.isEmpty()) {
        QFile publish(directory.filePath(QStringLiteral("publish.cfg")));
        if (!publish.open(QIODevice::WriteOnly) || publish.write(publishConfig) < 0)
            return;
    }

    // The tool finds its settings and writes its log relative to its working directory.
    QDir::setCurrent(directory.path());
    window = std::make_unique<OrvaUI>();
    const auto panels = probePanels(window->ui);
    for (int probe = 0; probe < probes; ++probe) {
        if (size_t(probe) < addresses.size())
            panels[probe].address->setText(QString::number(addresses[probe]));
        connect(panels[probe].value, &QLineEdit::textChanged, this,
                [this, probe](const QString &text) {
                    // The workflow empties the panels when it starts; only values count.
                    if (text.isEmpty())
                        return;
                    shownUs[probe].push_back(steadyUs());
                    ++shown;
                    if (waiting && shown >= wantedShown)
                        waiting->quit();
                });
    }
    window->show();
}

void ToolUnderTest::showHistory()
{
    window->showHistory();
}

ToolUnderTest::~ToolUnderTest()
{
    window.reset();
    QDir::setCurrent(previousDirectory);
}

bool ToolUnderTest::connectTo(const QString &portPath)
{
    // The poll refills the box only when the machine's ports change; the pseudo-terminal is
    // never among them, so it is added by hand, the way the operator would pick it.
    window->ui.cb_ports->addItem(portPath);
    window->ui.cb_ports->setCurrentIndex(window->ui.cb_ports->count() - 1);
    window->ui.pb_connect->click();
    return window->port().isOpen();
}

qint64 ToolUnderTest::clickUpdateAirCode()
{
    const qint64 now = steadyUs();
    window->ui.pb_line_meas_update_air->click();
    return now;
}

qint64 ToolUnderTest::clickGetResults()
{
    const qint64 now = steadyUs();
    window->ui.pb_line_meas_get->click();
    return now;
}

std::array<std::vector<qint64>, probes> ToolUnderTest::takeShown()
{
    std::array<std::vector<qint64>, probes> taken;
    std::swap(taken, shownUs);
    shown = 0;
    return taken;
}

QList<QByteArray> ToolUnderTest::takeLogLines()
{
    QFile log(QStringLiteral("log/log.txt"));
    if (!log.open(QIODevice::ReadOnly) || !log.seek(logOffset))
        return {};
    const QByteArray fresh = log.readAll();
    logOffset += fresh.size();
    // A line may still be half written; its end comes with the next call.
    const QByteArray text = logTail + fresh;
    const int complete = text.lastIndexOf('\n') + 1;
    logTail = text.mid(complete);
    QList<QByteArray> lines = text.left(complete).split('\n');
    lines.removeLast();
    return lines;
}

void ToolUnderTest::runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool ToolUnderTest::waitForShown(int count, int timeoutMs)
{
    if (shown >= count)
        return true;
    QEventLoop loop;
    waiting = &loop;
    wantedShown = count;
    QTimer::singleShot(timeoutMs, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    waiting = nullptr;
    return shown >= count;
}

}  // namespace bench
