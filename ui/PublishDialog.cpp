#include "ui/PublishDialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

PublishDialog::PublishDialog(const mqtt::BrokerConfig &config, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Публикация"));
    setObjectName(QStringLiteral("publishDialog"));
    auto *form = new QFormLayout(this);
    url = new QLineEdit(config.url);
    url->setObjectName(QStringLiteral("url"));
    url->setPlaceholderText(QStringLiteral("mqtt://host:1883 или mqtts://host:8883"));
    station = new QLineEdit(config.station);
    station->setObjectName(QStringLiteral("station"));
    station->setPlaceholderText(mqtt::defaultStation());
    prefix = new QLineEdit(config.prefix);
    prefix->setObjectName(QStringLiteral("prefix"));
    user = new QLineEdit(config.user);
    user->setObjectName(QStringLiteral("user"));
    auto *caRow = new QWidget;
    caFile = fileField(config.caFile, QStringLiteral("Сертификат центра (CA)"), caRow);
    caFile->setObjectName(QStringLiteral("caFile"));
    auto *passwordRow = new QWidget;
    passwordFile = fileField(config.passwordFile, QStringLiteral("Файл пароля"), passwordRow);
    passwordFile->setObjectName(QStringLiteral("passwordFile"));
    problem = new QLabel;
    problem->setObjectName(QStringLiteral("problem"));
    problem->setWordWrap(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(QStringLiteral("Брокер MQTT:"), url);
    form->addRow(QStringLiteral("Станция:"), station);
    form->addRow(QStringLiteral("Префикс тем:"), prefix);
    form->addRow(QStringLiteral("Сертификат CA:"), caRow);
    form->addRow(QStringLiteral("Пользователь:"), user);
    form->addRow(QStringLiteral("Файл пароля:"), passwordRow);
    form->addRow(problem);
    form->addRow(buttons);
}

QLineEdit *PublishDialog::fileField(const QString &text, const QString &title, QWidget *row)
{
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *field = new QLineEdit(text);
    auto *browse = new QToolButton;
    browse->setText(QStringLiteral("…"));
    layout->addWidget(field);
    layout->addWidget(browse);
    connect(browse, &QToolButton::clicked, this, [this, field, title] {
        const QString path = QFileDialog::getOpenFileName(this, title, field->text());
        if (!path.isEmpty())
            field->setText(path);
    });
    return field;
}

mqtt::BrokerConfig PublishDialog::config() const
{
    mqtt::BrokerConfig config;
    config.url = url->text().trimmed();
    config.station = station->text().trimmed();
    config.prefix = prefix->text().trimmed();
    config.caFile = caFile->text().trimmed();
    config.user = user->text().trimmed();
    config.passwordFile = passwordFile->text().trimmed();
    return config;
}

void PublishDialog::accept()
{
    QString error;
    if (!url->text().trimmed().isEmpty() && !mqtt::checkConfig(config(), &error)) {
        problem->setText(error);
        return;
    }
    QDialog::accept();
}
