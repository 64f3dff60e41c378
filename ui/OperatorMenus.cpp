#include "ui/OperatorMenus.h"

#include "Version.h"
#include "protocol/ProbeLine.h"
#include "ui/TextDialog.h"

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
    QAction *logFolder = file->addAction(QStringLiteral("Открыть папку журнала"), this, [this] {
        openFolder(QDir::current().absoluteFilePath(QStringLiteral("log")));
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
                    [this] {
                        auto *guide = new TextDialog(QStringLiteral("Руководство оператора"),
                                                     guideText(), this->window);
                        guide->setAttribute(Qt::WA_DeleteOnClose);
                        guide->open();
                    })
        ->setObjectName(QStringLiteral("actionGuide"));
    help->addAction(QStringLiteral("О программе"), this,
                    [this] { showText(QStringLiteral("О программе"), aboutText()); })
        ->setObjectName(QStringLiteral("actionAbout"));
}

void OperatorMenus::openRecordsFolder() const
{
    QDir().mkpath(recordsDirectory);
    openFolder(QDir(recordsDirectory).absolutePath());
}

// A desktop without a file manager opens nothing and says nothing: the path is said instead, to
// be copied.
void OperatorMenus::openFolder(const QString &path) const
{
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        return;
    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("Папка"),
                                QStringLiteral("Файловый менеджер не открыл папку:\n") + path,
                                QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("folderNotOpened"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->open();
}

// Not modal to the loop: the window keeps serving the line while the text is read.

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
                          "линии, %1 бод.\n\n")
               .arg(probeline::baudRate) +
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
        "команды и ответы записываются в журнал log/log.txt.\n\n"
        "Поиск приборов\n\n"
        "\"Приборы\" → \"Найти приборы на линии\" опрашивает все адреса от 0 до 255 и "
        "предлагает найденные адреса для полей. Чтобы они остались и после перезапуска, "
        "выберите \"Файл\" → \"Сохранить адреса в settings.cfg\" (прежний файл сохраняется "
        "как settings.cfg.bak).\n\n"
        "Непрерывное измерение\n\n"
        "\"Приборы\" → \"Непрерывное измерение\" повторяет \"Запуск измерения\" с заданным "
        "интервалом в секундах (1.5 или 1,5). Повторный выбор останавливает его. Интервал "
        "запоминается. Если порт пропал, измерение останавливается, а после подключения "
        "программа предлагает его возобновить. Ход измерения виден в строке состояния.\n\n"
        "Записи и история\n\n"
        "Каждый результат записывается в папку records, по файлу на день: \"Файл\" → "
        "\"Открыть папку записей\". Вкладка \"История\" показывает записи за выбранное "
        "время графиком и таблицей со статистикой по каналам; \"Экспорт…\" сохраняет их. "
        "\"Файл\" → \"Отчёт…\" печатает отчёт за время в PDF или на принтер. \"Файл\" → "
        "\"Публикация…\" отправляет каждую запись на брокер MQTT завода.\n\n"
        "Допуски\n\n"
        "\"Приборы\" → \"Допуски…\" задаёт границы для каждого канала. Значение вне допуска "
        "выделяется в панели и в строке состояния до значения в допуске или до "
        "\"Приборы\" → \"Квитировать допуск\".\n\n"
        "Порт и журнал\n\n"
        "\"Приборы\" → \"Отключить\" закрывает порт, чтобы им могла пользоваться другая "
        "программа. Значения, снятые до \"Сброс\", \"Ноль\", \"Мера\" или до закрытия порта, "
        "показаны серым курсивом: они устарели. \"Файл\" → \"Открыть папку журнала\" "
        "открывает папку log.");
}
