#include "VirtualDisplay.h"
#include "app/OrvaUI.h"
#include "support/Files.h"
#include "ui/HistoryTab.h"

#include <QHeaderView>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

// The window and its boxes on a screen of a given size at a given text scaling (the X server's
// screen and QT_FONT_DPI come from the test's environment): nothing lies past the screen.
class TestFit : public QObject
{
    Q_OBJECT

    QTemporaryDir workDir;

    static QRect screenArea(const QWidget &widget) { return widget.screen()->availableGeometry(); }

    static QRect onScreen(const QWidget *widget)
    {
        return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    }

    static QByteArray where(const QRect &rect)
    {
        return QStringLiteral("%1x%2 at %3,%4")
            .arg(rect.width())
            .arg(rect.height())
            .arg(rect.x())
            .arg(rect.y())
            .toLatin1();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(workDir.isValid() && QDir::setCurrent(workDir.path()));
        // Two probe lines: the window starts with a box about the file besides.
        QVERIFY(files::write(QStringLiteral("settings.cfg"),
                             files::settings(std::vector<int>{12, 13}, 35)));
        const QList<QByteArray> size = qgetenv("FIT_SCREEN").split('x');
        QCOMPARE(QGuiApplication::primaryScreen()->size(),
                 QSize(size.value(0).toInt(), size.value(1).toInt()));
    }

    // Menu, form and status bar on the screen, whatever the state field holds.
    void window()
    {
        OrvaUI window;
        window.stateField().setItem(QStringLiteral("long"), QString(120, QLatin1Char('W')));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QRect screen = screenArea(window);
        QVERIFY2(screen.contains(window.frameGeometry()), where(window.frameGeometry()));
        QVERIFY(window.menuBar()->isVisible() && screen.contains(onScreen(window.menuBar())));
        QVERIFY(window.statusBar()->isVisible() && screen.contains(onScreen(window.statusBar())));
    }

    // Every column of the history's tables shows its header whole.
    void tableHeaders()
    {
        OrvaUI window;
        window.showHistory();
        const QList<QTableView *> tables = window.history()->findChildren<QTableView *>();
        QVERIFY(tables.size() >= 2);
        for (const QTableView *table : tables) {
            const QHeaderView *header = table->horizontalHeader();
            for (int column = 0; column < header->count(); ++column) {
                const QString name = table->model()->headerData(column, Qt::Horizontal).toString();
                QVERIFY2(
                    table->columnWidth(column) >= header->fontMetrics().horizontalAdvance(name),
                    qPrintable(name));
            }
        }
    }

    void dialogs_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("title");
        QTest::newRow("guide") << "actionGuide"
                               << "Руководство оператора";
        QTest::newRow("about") << "actionAbout"
                               << "О программе";
        QTest::newRow("settings.cfg at start") << ""
                                               << "settings.cfg";
    }

    // Each box lies on the screen, its buttons too.
    void dialogs()
    {
        QFETCH(QString, action);
        QFETCH(QString, title);
        OrvaUI window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        if (!action.isEmpty())
            window.findChild<QAction *>(action)->trigger();
        QDialog *dialog = nullptr;
        const auto shown = [&] {
            for (QDialog *candidate : window.findChildren<QDialog *>()) {
                if (candidate->isVisible() && candidate->windowTitle() == title)
                    dialog = candidate;
            }
            return dialog != nullptr;
        };
        QTRY_VERIFY(shown());
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        const QRect screen = screenArea(window);
        QVERIFY2(screen.contains(dialog->frameGeometry()), where(dialog->frameGeometry()));
        for (QAbstractButton *button : dialog->findChildren<QAbstractButton *>()) {
            if (button->isVisible())
                QVERIFY(screen.contains(onScreen(button)));
        }
        dialog->close();
    }
};

int main(int argc, char **argv)
{
    VirtualDisplay display;
    QString error;
    if (!display.start(&error, qgetenv("FIT_SCREEN") + "x24")) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestFit test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_e2e_fit.moc"
