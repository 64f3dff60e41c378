#pragma once

#include "logging/ILog.h"
#include "mqtt/BrokerConfig.h"
#include "mqtt/Publisher.h"

#include <QObject>

#include <memory>

class QMenu;
class QWidget;
class RecordWriter;
class StateField;

// The window's publishing: "Файл" → "Публикация…", the working folder's publish.cfg, the
// publisher of the window's records and the state field's broker item.
class Publishing : public QObject
{
    Q_OBJECT

public:
    Publishing(QMenu *fileMenu, StateField &state, const RecordWriter &records, m::ifc::ILog *log,
               QWidget *window);
    ~Publishing() override;

    // The dialog, then the broker it names.
    void configure();
    const mqtt::Publisher *publisher() const { return current.get(); }

private:
    void start(const mqtt::BrokerConfig &config);

    StateField &state;
    const RecordWriter &records;
    m::ifc::ILog *log;
    QWidget *window;
    std::unique_ptr<mqtt::Publisher> current;
};
