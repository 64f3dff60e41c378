#pragma once

#include "mqtt/BrokerConfig.h"

#include <QDialog>

class QLabel;
class QLineEdit;

// "Файл" → "Публикация…": the broker, the station and the login, checked before it closes. An
// empty URL turns publishing off.
class PublishDialog : public QDialog
{
    Q_OBJECT

public:
    explicit PublishDialog(const mqtt::BrokerConfig &config, QWidget *parent = nullptr);

    mqtt::BrokerConfig config() const;

    void accept() override;

private:
    QLineEdit *fileField(const QString &text, const QString &title, QWidget *row);

    QLineEdit *url;
    QLineEdit *station;
    QLineEdit *prefix;
    QLineEdit *caFile;
    QLineEdit *user;
    QLineEdit *passwordFile;
    QLabel *problem;
};
