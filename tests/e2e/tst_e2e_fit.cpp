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

    // Whether the screen's free area holds the window's frame, or the widget whole.
    static bool onScreen(const QWidget *widget)
    {
        const QRect rect = widget->isWindow()
                               ? widget->frameGeometry()
                               : QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
        const bool inside = widget->screen()->availableGeometry().contains(rect);
        if (!inside)
            qWarning() << widget << rect << "lies past the screen";
        return inside;
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

    void everythingOnScreen_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("title");
        for (const auto &[action, title] : {std::pair{"actionGuide", "Руководство оператора"},
                                            {"actionAbout", "О программе"},
                                            {"", "settings.cfg"}})
            QTest::addRow("%s", title) << action << title;
    }

    // Each box lies on the screen, its buttons too, and so do the window's menu, form and
    // status bar, whatever the state field holds; the history's tables show their headers.
    void everythingOnScreen()
    {
        QFETCH(QString, action);
        QFETCH(QString, title);
        OrvaUI window;
        window.stateField().setItem(QStringLiteral("long"), QString(120, QLatin1Char('W')));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(onScreen(&window));
        QVERIFY(window.menuBar()->isVisible() && onScreen(window.menuBar()));
        QVERIFY(window.statusBar()->isVisible() && onScreen(window.statusBar()));
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
        QVERIFY(onScreen(dialog));
        for (QAbstractButton *button : dialog->findChildren<QAbstractButton *>())
            QVERIFY(!button->isVisible() || onScreen(button));
        dialog->close();

        // Every column of the history's tables shows its header whole.
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
};

int main(int argc, char **argv)
{
    VirtualDisplay display;
    const QString error = display.start(qgetenv("FIT_SCREEN") + "x24");
    if (!error.isEmpty()) {
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
