#include "ui/Publishing.h"

#include "records/RecordWriter.h"
#include "ui/PublishDialog.h"
#include "ui/StateField.h"

#include <QMenu>
#include <QMessageBox>

namespace {

const QString stateItem = QStringLiteral("broker");

}  // namespace

Publishing::Publishing(QMenu *fileMenu, StateField &state, const RecordWriter &records,
                       m::ifc::ILog *log, QWidget *window)
    : state(state), records(records), log(log), window(window)
{
    // Above "Выход" and its separator.
    const QList<QAction *> actions = fileMenu->actions();
    auto *action = new QAction(QStringLiteral("Публикация…"), fileMenu);
    action->setObjectName(QStringLiteral("publishAction"));
    connect(action, &QAction::triggered, this, &Publishing::configure);
    fileMenu->insertAction(actions.size() >= 2 ? actions[actions.size() - 2] : nullptr, action);
    start(mqtt::loadBrokerConfig());
}

Publishing::~Publishing() = default;

void Publishing::configure()
{
    PublishDialog dialog(mqtt::loadBrokerConfig(), window);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (!mqtt::saveBrokerConfig(dialog.config()))
        QMessageBox::warning(window, QStringLiteral("Публикация"),
                             QStringLiteral("Не удалось сохранить publish.cfg"));
    start(dialog.config());
}

void Publishing::start(const mqtt::BrokerConfig &config)
{
    current.reset();
    state.setItem(stateItem, QString());
    if (config.url.isEmpty())
        return;
    QString error;
    const auto checked = mqtt::checkConfig(config, &error);
    if (!checked) {
        m::writeLine(log, 0, QStringLiteral("MQTT: not published: ") + error);
        state.setItem(stateItem, mqtt::Publisher::describe({false, error, 0}), error);
        return;
    }
    current = std::make_unique<mqtt::Publisher>(*checked, records.directory(), log);
    connect(&records, &RecordWriter::appended, current.get(), &mqtt::Publisher::recordsAdded);
    connect(current.get(), &mqtt::Publisher::stateChanged, this,
            [this](const mqtt::PublishState &now) {
                state.setItem(stateItem, mqtt::Publisher::describe(now), now.reason);
            });
}
