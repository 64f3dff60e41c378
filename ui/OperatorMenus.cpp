#include "ui/OperatorMenus.h"

#include "app/Version.h"

#include <QDesktopServices>
#include <QDir>
#include <QMenuBar>
#include <QMessageBox>
#include <QUrl>

OperatorMenus::OperatorMenus(QMainWindow *window, const QString &recordsDirectory,
                             const QString &userSettingsPath)
    : QObject(window),
      window(window),
      recordsDirectory(recordsDirectory),
      userSettingsPath(userSettingsPath)
{
    QMenuBar *bar = window->menuBar();
    file = bar->addMenu(QStringLiteral("Файл"));
    file->setObjectName(QStringLiteral("menuFile"));
    QAction *logFolder = file->addAction(QStringLiteral("Открыть папку журнала"), this, [] {
        QDesktopServices::openUrl(
            QUrl::fromLocalFile(QDir::current().absoluteFilePath(QStringLiteral("log"))));
    });
    logFolder->setObjectName(QStringLiteral("actionOpenLogFolder"));
    file->addAction(QStringLiteral("Открыть папку записей"), this,
                    &OperatorMenus::openRecordsFolder)
        ->setObjectName(QStringLiteral("actionOpenRecordsFolder"));
    QAction *exitSeparator = file->addSeparator();
    exitSeparator->setObjectName(QStringLiteral("exitSeparator"));
    QAction *exit = file->addAction(QStringLiteral("Выход"), window, &QWidget::close);
    exit->setObjectName(QStringLiteral("actionExit"));
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu *help = bar->addMenu(QStringLiteral("Справка"));
    help->setObjectName(QStringLiteral("menuHelp"));
    help->addAction(QStringLiteral("Руководство оператора"), this,
                    [this] { showText(QStringLiteral("Руководство оператора"), guideText()); })
        ->setObjectName(QStringLiteral("actionGuide"));
    help->addAction(QStringLiteral("О программе"), this,
                    [this] { showText(QStringLiteral("О программе"), aboutText()); })
        ->setObjectName(QStringLiteral("actionAbout"));
}

void OperatorMenus::openRecordsFolder() const
{
    QDir().mkpath(recordsDirectory);
    QDesktopServices::openUrl(QUrl::fromLocalFile(QDir(recordsDirectory).absolutePath()));
}

void OperatorMenus::showText(const QString &title, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok, window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->open();
}

QString OperatorMenus::aboutText() const
{
    return QStringLiteral("T7R Demo v" T7R_VERSION
                          "\nСервисная программа для толщиномеров: до восьми приборов на одной "
                          "линии, 460800 бод.\n\n") +
           QStringLiteral("Версия Qt: ") + QString::fromLatin1(qVersion()) +
           QStringLiteral("\nДата сборки: " T7R_BUILD_DATE "\nРабочая папка: ") +
           QDir::currentPath() + QStringLiteral("\nЖурнал: ") +
           QDir::current().absoluteFilePath(QStringLiteral("log/log.txt")) +
           QStringLiteral("\nНастройки приборов: ") +
           QDir::current().absoluteFilePath(QStringLiteral("settings.cfg")) +
           QStringLiteral("\nНастройки пользователя: ") + userSettingsPath;
}

QString OperatorMenus::guideText()
{
    return QStringLiteral(
        "Порядок работы\n\n"
        "1. Выберите порт в списке COM и нажмите \"Подключить\". Справа в строке состояния "
        "видно, подключен ли порт, и если нет, то почему.\n"
        "2. Проверьте адреса приборов в полях \"Адрес прибора:\" (они взяты из settings.cfg). "
        "Адрес виден на дисплее прибора. Enter переходит к следующему полю.\n"
        "3. \"Обновить \"Воздух\"\": каждый прибор заново снимает опорный код по воздуху. "
        "Под датчиками не должно быть ничего. Делайте это в начале смены.\n"
        "4. \"Ноль\": прибор принимает текущее положение за нулевую толщину. Положите датчик "
        "на основание без образца.\n"
        "5. \"Мера\": прибор принимает текущую толщину за значение из поля \"Мера:\" (в мкм, "
        "с точкой). Положите под датчик меру известной толщины.\n"
        "6. \"Запуск измерения\": все приборы измеряют, результаты в мкм появляются в панелях.\n"
        "\"Сброс\" стирает калибровку прибора (ноль и меру); после него снова выполните шаги 4 "
        "и 5.\n\n"
        "После каждой операции строка состояния сообщает, сколько приборов ответили. Все "
        "команды и ответы записываются в журнал log/log.txt.");
}
