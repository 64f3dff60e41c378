#pragma once

#include "link/LinkHealth.h"
#include "logging/FileLog.h"
#include "protocol/OstraCommands.h"
#include "records/RecordWriter.h"
#include "scan/BusScan.h"
#include "serial/PortWatch.h"
#include "summary/OperationSummaries.h"
#include "ui/ProbePanels.h"
#include "ui/StateField.h"
#include "ui/SummaryLine.h"
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

class HistoryTab;
class Publishing;

// The tool's one window: it owns the port, the log and the device layer, and turns the
// operator's clicks into device commands and the probes' results into panel values.
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
    QMenu *fileMenu() const { return menuFile; }
    QString aboutText() const;
    static QString guideText();
    // Where the last connected port is remembered, per user.
    static QString userSettingsPath();
    const RecordWriter &records() const { return recordWriter; }
    ToleranceWatch &tolerances() { return *tolerance; }
    // The page "История", once it has been shown; null before.
    HistoryTab *history() const { return historyTab; }
    // Shows the page "История", building it on first use.
    void showHistory();
    // The records folder in the desktop's file manager.
    void openRecordsFolder();

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
    // "Приборы" → "Найти приборы на линии".
    void findProbes_Slot();
    // "Приборы" → "Непрерывное измерение": on asks for the interval, off stops.
    void continuousMeasurement_Slot(bool on);

public:
    // Repeats the "Запуск измерения" round every `intervalMs`, at least the round's own length.
    void startContinuousMeasurement(int intervalMs);
    void stopContinuousMeasurement();
    bool continuousMeasurementRunning() const { return continuousTimer.isActive(); }
    // From the first start to the last result's time limit, at `delay`.
    int measurementRoundMs(int32_t delay) const;

    const BusScan &probeSearch() const { return busScan; }
    OstraCommands &lineCommands() { return commands; }

signals:
    void continuousMeasurementChanged(bool running);

private:
    void connectSignals();
    void connectPanelButtons(QPushButton *ProbePanel::*button, void (OrvaUI::*action)(uint8_t),
                             frames::Command command);
    void connectAddressFields();

    void closePort();
    void buildDevicesMenu();
    void probeSearchFinished(bool completed);
    void offerFoundAddresses(const std::vector<uint8_t> &found);
    void portError(QSerialPort::SerialPortError error);

    void armSettingsProbes(void (OstraCommands::*command)(uint8_t), frames::Command code,
                           const QString &name);
    void announce(int round, int probe, frames::Command command, uint8_t addr);
    void resultUnanswered(int channel);
    void addressEdited(int probe);
    std::optional<uint8_t> probeAddress(int probe);
    void setUpHistory();

    void buildMenus();
    void showText(const QString &title, const QString &text);
    void setUpKeyboard();
    void prefillAddresses();
    void preselectPort();
    void showConnected();
    void showNotConnected(QSerialPort::SerialPortError error, const QString &detail);

    QTimer checkConnectionTimer;
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
    QMenu *menuFile = nullptr;
    OperationSummaries summaries;
    SummaryLine *summaryLine = nullptr;
    RecordWriter recordWriter{&fileLog};
    ToleranceWatch *tolerance = nullptr;
    QWidget *historyPage = nullptr;
    HistoryTab *historyTab = nullptr;
    BusScan busScan{&commands};
    QAction *findProbesAction = nullptr;
    QAction *continuousAction = nullptr;
    QTimer continuousTimer;
    // Last: it publishes the records and speaks to the log and the state field to its end.
    std::unique_ptr<Publishing> publishing;
};
