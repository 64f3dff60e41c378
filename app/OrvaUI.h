#pragma once

#include "link/LinkHealth.h"
#include "logging/FileLog.h"
#include "protocol/OstraCommands.h"
#include "records/RecordWriter.h"
#include "serial/PortWatch.h"
#include "summary/OperationSummaries.h"
#include "ui/ContinuousMeasurement.h"
#include "ui/HistoryPage.h"
#include "ui/LineOwner.h"
#include "ui/OperatorMenus.h"
#include "ui/PortEvents.h"
#include "ui/ProbePanels.h"
#include "ui/ProbeSearch.h"
#include "ui/StateField.h"
#include "ui/ToleranceWatch.h"
#include "ui_OrvaUI.h"

#include <QCloseEvent>
#include <QMainWindow>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class Publishing;

// The tool's one window: it owns the port, the log and the device layer, turns the operator's
// clicks into device commands and the probes' results into panel values, and holds the features
// added since (probe search, continuous measurement, records and their history), which keep
// their own signals and state so that the window's meta-object lists its twelve slots alone.
class OrvaUI : public QMainWindow
{
    Q_OBJECT

public:
    explicit OrvaUI(QWidget *parent = nullptr);
    ~OrvaUI() override;

    const QSerialPort &port() const { return serial; }
    const QTimer &portPoll() const { return checkConnectionTimer; }

    Ui::OrvaUIClass ui;

    // The permanent state at the right of the status bar; other features add their items.
    StateField &stateField() { return *state; }
    OperatorMenus &operatorMenus() const { return *menus; }
    // Where the last connected port is remembered, per user.
    static QString userSettingsPath();
    const RecordWriter &records() const { return recordWriter; }
    ToleranceWatch &tolerances() { return *tolerance; }
    // The page "История", once it has been shown; null before.
    HistoryTab *history() const { return historyPage->tab(); }
    void showHistory() { historyPage->open(); }
    ProbeSearch &probeSearch() { return *search; }
    ContinuousMeasurement &continuousMeasurement() { return *continuous; }
    OstraCommands &lineCommands() { return commands; }

    // Arms the "Запуск измерения" round; its timers die with `context`.
    void armMeasurementRound(QObject *context);
    // The pause between the commands of one all-probe operation, from settings.cfg at start.
    int32_t commandDelay() const { return delay; }
    m::ifc::ILog *lineLog() const { return log; }
    PortEvents &portEvents() { return portEventsHub; }
    // "Приборы" → "Отключить": the port is closed and free for another program.
    void disconnectPort();

public slots:
    void closeEvent(QCloseEvent *event) override;
    void checkConnection_Slot();
    void serialConnect_Slot();
    void test_Slot();
    void updateAirCode_Slot();
    void checkAirCode_Slot();
    void startLineMeas_Slot();
    void getLineMeasResult_Slot();
    void resetCalibration_Slot(uint8_t addr);
    void setZeroPoint_Slot(uint8_t addr);
    void setMeasurePoint_Slot(uint8_t addr);
    void newMeasurement_Slot(uint8_t addr, float um, float um_calib, uint8_t quality);

private:
    void connectSignals();
    void connectPanelButtons(QPushButton *ProbePanel::*button, void (OrvaUI::*action)(uint8_t),
                             frames::Command command);
    void connectAddressFields();

    void closePort();
    void buildDevicesMenu();
    void fillAddresses(const std::vector<uint8_t> &addresses);
    void portError(QSerialPort::SerialPortError error);

    void armSettingsProbes(frames::Command command, const QString &name);
    void announce(int round, int probe, frames::Command command);
    void resultUnanswered(int channel);
    void addressEdited(int probe);
    std::optional<uint8_t> probeAddress(int probe);

    void setUpKeyboard();
    void prefillAddresses();
    void preselectPort();
    void showConnected();
    void showNotConnected(QSerialPort::SerialPortError error, const QString &detail);

    QTimer checkConnectionTimer;
    PortEvents portEventsHub;
    QSerialPort serial;
    QString portName;
    FileLog fileLog;
    m::ifc::ILog *log;
    OstraCommands commands;
    std::map<uint8_t, uint8_t> addrToProbe;
    std::map<uint8_t, uint8_t> probeToAddr;
    int32_t delay = 0;
    PortWatch portWatch;
    LinkHealth linkHealth;
    StateField *state = nullptr;
    OperatorMenus *menus = nullptr;
    OperationSummaries summaries;
    RecordWriter recordWriter{&fileLog};
    ToleranceWatch *tolerance = nullptr;
    HistoryPage *historyPage = nullptr;
    LineOwner lineOwner{ui};
    // Before the members they use are gone, and without a parent that would outlive them.
    std::unique_ptr<ProbeSearch> search;
    std::unique_ptr<ContinuousMeasurement> continuous;
    // Last: it publishes the records and speaks to the log and the state field to its end.
    std::unique_ptr<Publishing> publishing;
};
