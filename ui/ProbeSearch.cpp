#include "ui/ProbeSearch.h"

#include "ui/ProbePanels.h"

#include <QMessageBox>
#include <QProgressDialog>

namespace {

const QString title = QStringLiteral("Найти приборы на линии");

QString addressList(const std::vector<uint8_t> &addresses)
{
    QStringList texts;
    for (const uint8_t address : addresses)
        texts << QString::number(address);
    return texts.join(QStringLiteral(", "));
}

}  // namespace

ProbeSearch::ProbeSearch(QWidget *window, const Ui::OrvaUIClass &ui, const QSerialPort &port,
                         OstraCommands *commands, m::ifc::ILog *log)
    : window(window),
      ui(ui),
      port(port),
      log(log),
      busScan(commands),
      entry(new QAction(title, window))
{
    entry->setObjectName(QStringLiteral("action_find_probes"));
    connect(entry, &QAction::triggered, this, &ProbeSearch::start);
    connect(&busScan, &BusScan::finished, this, &ProbeSearch::scanFinished);
}

void ProbeSearch::start()
{
    if (busScan.isRunning())
        return;
    if (!port.isOpen()) {
        ui.statusBar->showMessage(QStringLiteral("Устройство не подключено"), 5000);
        return;
    }
    auto *progress =
        new QProgressDialog(QStringLiteral("Поиск приборов на линии…"), QStringLiteral("Отмена"), 0,
                            BusScan::addressCount, window);
    progress->setObjectName(QStringLiteral("probeSearchProgress"));
    progress->setWindowTitle(title);
    progress->setWindowModality(Qt::WindowModal);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setMinimumDuration(0);
    progress->setValue(0);
    connect(progress, &QProgressDialog::canceled, &busScan, &BusScan::cancel);
    connect(&busScan, &BusScan::progress, progress, [progress](int done, int total) {
        progress->setMaximum(total);
        progress->setValue(done);
    });
    // The closed dialog lives until the loop deletes it; a next search must not reach it, since
    // its setValue runs the loop and could delete it from inside itself.
    connect(&busScan, &BusScan::finished, progress, [this, progress] {
        QObject::disconnect(progress, nullptr, nullptr, nullptr);
        busScan.disconnect(progress);
        progress->close();
    });
    emit started();
    m::writeLine(log, 0, QStringLiteral("Probe search started"));
    progress->show();
    busScan.start();
}

void ProbeSearch::scanFinished(bool completed)
{
    const std::vector<uint8_t> found = busScan.foundAddresses();
    m::writeLine(log, 0,
                 QStringLiteral("Probe search %1, found %2: %3")
                     .arg(completed ? QStringLiteral("finished") : QStringLiteral("stopped"))
                     .arg(found.size())
                     .arg(addressList(found)));
    emit finished(completed);
    if (!completed) {
        ui.statusBar->showMessage(QStringLiteral("Поиск приборов прерван"), 5000);
        return;
    }
    if (found.empty()) {
        ui.statusBar->showMessage(QStringLiteral("Приборы не найдены"), 5000);
        return;
    }
    if (int(found.size()) > probeCount) {
        auto *box =
            new QMessageBox(QMessageBox::Information, title,
                            QStringLiteral("Найдено приборов: %1, больше восьми. Адреса: %2.")
                                .arg(found.size())
                                .arg(addressList(found)),
                            QMessageBox::Ok, window);
        box->setObjectName(QStringLiteral("probeSearchTooMany"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return;
    }
    offer(found);
}

void ProbeSearch::offer(const std::vector<uint8_t> &found)
{
    bool typed = false;
    for (const ProbePanel &panel : probePanels(ui))
        typed = typed || !panel.address->text().isEmpty();
    QString text =
        QStringLiteral("Найдены приборы: %1. Заполнить поля адресов?").arg(addressList(found));
    if (typed)
        text += QStringLiteral(" Введённые адреса будут заменены.");
    auto *box = new QMessageBox(QMessageBox::Question, title, text,
                                QMessageBox::Yes | QMessageBox::No, window);
    box->setObjectName(QStringLiteral("probeSearchOffer"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, box, found] {
        if (box->clickedButton() == box->button(QMessageBox::Yes))
            emit addressesChosen(found);
    });
    box->open();
}
