#include "ui/SettingsFile.h"

#include "app/OrvaUI.h"
#include "protocol/FieldRules.h"
#include "settings/SettingsWriter.h"
#include "ui/OperatorMenus.h"
#include "ui/ProbePanels.h"

#include <QMenu>
#include <QMessageBox>
#include <QTimer>

namespace {

const QString stateItem = QStringLiteral("settings");

// Opened, not executed: the line keeps being served while the operator reads.
void refuse(QWidget *window, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("settings.cfg не изменён"),
                                text, QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("settingsNotSaved"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

}  // namespace

SettingsFile::SettingsFile(OrvaUI *window, const Settings &readAtStart)
    : QObject(window), window(window)
{
    QMenu *menu = window->operatorMenus().fileMenu();
    QAction *before = nullptr;
    for (QAction *action : menu->actions()) {
        if (action->objectName() == QStringLiteral("exitSeparator"))
            before = action;
    }
    auto *save = new QAction(QStringLiteral("Сохранить адреса в settings.cfg"), menu);
    save->setObjectName(QStringLiteral("actionSaveAddresses"));
    connect(save, &QAction::triggered, this, &SettingsFile::saveAddresses);
    menu->insertSeparator(before);
    menu->insertAction(before, save);
    if (!readAtStart.mismatch.isEmpty())
        showMismatch(readAtStart);
}

// Without a word the operator would see a phantom probe or a changed delay and not know why.
void SettingsFile::showMismatch(const Settings &settings)
{
    const QString summary =
        QStringLiteral("settings.cfg не по образцу, строка %1").arg(settings.mismatchLine);
    window->stateField().setItem(stateItem, summary, settings.mismatch);
    auto *box = new QMessageBox(
        QMessageBox::Warning, QStringLiteral("settings.cfg"),
        summary + QStringLiteral(": задержка %1 мс по умолчанию.\n\n").arg(settings.delay) +
            settings.mismatch +
            QStringLiteral("\n\nАдреса можно ввести в поля и сохранить: \"Файл\" → "
                           "\"Сохранить адреса в settings.cfg\"."),
        QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("settingsMismatch"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    // Not modal: the window stays usable, and the box comes up over it, not before it.
    box->setWindowModality(Qt::NonModal);
    QTimer::singleShot(0, box, &QWidget::show);
}

std::optional<std::vector<uint8_t>> SettingsFile::fieldAddresses()
{
    std::vector<uint8_t> addresses;
    int firstEmpty = 0;
    const auto panels = probePanels(window->ui);
    for (int probe = 0; probe < probeCount; ++probe) {
        const QString text = panels[probe].address->text().trimmed();
        QString refusal;
        if (text.isEmpty()) {
            if (!firstEmpty)
                firstEmpty = probe + 1;
            continue;
        }
        const std::optional<uint8_t> address = fieldrules::parseProbeAddress(text);
        if (!address)
            refusal = QStringLiteral("Не корректный адрес, канал ") + QString::number(probe + 1);
        else if (firstEmpty)
            refusal = QStringLiteral(
                          "Канал %1 без адреса, а канал %2 с адресом: адреса "
                          "сохраняются подряд с канала 1")
                          .arg(firstEmpty)
                          .arg(probe + 1);
        if (!refusal.isEmpty()) {
            refuse(window, refusal);
            return std::nullopt;
        }
        addresses.push_back(*address);
    }
    return addresses;
}

void SettingsFile::saveAddresses()
{
    const std::optional<std::vector<uint8_t>> addresses = fieldAddresses();
    if (!addresses)
        return;
    // The port name in the record is used by nothing; the file's own stays.
    const QByteArray record =
        settingswriter::record(readSettings().port, *addresses, window->commandDelay());
    if (const std::optional<QString> error = settingswriter::save(record)) {
        m::writeLine(window->lineLog(), 0, QStringLiteral("settings.cfg not saved: ") + *error);
        refuse(window, QStringLiteral("Не удалось сохранить settings.cfg: ") + *error);
        return;
    }
    QStringList shown;
    for (const uint8_t address : *addresses)
        shown << QString::number(address);
    m::writeLine(window->lineLog(), 0,
                 QStringLiteral("Addresses saved to settings.cfg: %1; Delay: %2")
                     .arg(shown.isEmpty() ? QStringLiteral("none") : shown.join(QLatin1Char(',')))
                     .arg(window->commandDelay()));
    window->stateField().setItem(stateItem, QString());
    window->statusBar()->showMessage(QStringLiteral("Адреса сохранены в settings.cfg"), 5000);
}
