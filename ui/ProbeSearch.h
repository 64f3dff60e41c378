#pragma once

#include "logging/ILog.h"
#include "scan/BusScan.h"
#include "ui_OrvaUI.h"

#include <QAction>
#include <QObject>
#include <QSerialPort>

#include <cstdint>
#include <vector>

// "Найти приборы на линии": asks every address on the line while the window shows a modal
// progress dialog, then offers the finds for the address fields. Dialogs are opened, not
// executed: the line keeps being served while one is up.
class ProbeSearch : public QObject
{
    Q_OBJECT

public:
    ProbeSearch(QWidget *window, const Ui::OrvaUIClass &ui, const QSerialPort &port,
                OstraCommands *commands, m::ifc::ILog *log);

    // The menu entry that starts it.
    QAction *action() const { return entry; }
    const BusScan &scan() const { return busScan; }
    bool isRunning() const { return busScan.isRunning(); }
    void start();

signals:
    // Just before the first request: whatever else sends must stop now.
    void started();
    void finished(bool completed);
    // The operator took the finds, ascending, for the fields from probe 1 on.
    void addressesChosen(const std::vector<uint8_t> &addresses);

private:
    void scanFinished(bool completed);
    void offer(const std::vector<uint8_t> &found);

    QWidget *window;
    const Ui::OrvaUIClass &ui;
    const QSerialPort &port;
    m::ifc::ILog *log;
    BusScan busScan;
    QAction *entry;
};
