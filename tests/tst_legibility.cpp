#include "app/OrvaUI.h"
#include "support/Files.h"
#include "ui/FormFit.h"

#include <QAbstractItemView>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QTemporaryDir>
#include <QtTest>

// Every text of the window shown whole. CTest runs this suite once per desktop scale
// (QT_FONT_DPI 96, 120, 144, 192 and QT_SCALE_FACTOR 1.5), on Debian's default font.
class TestLegibility : public QObject
{
    Q_OBJECT

    QTemporaryDir workDir;

private slots:
    void initTestCase()
    {
        QVERIFY(workDir.isValid() && QDir::setCurrent(workDir.path()));
        QVERIFY(files::write(QStringLiteral("settings.cfg"),
                             files::settings({12, 13, 14, 15, 16, 17, 18, 255}, 190)));
    }

    // Every text fits its room, in a window that takes the grown form's size as far as the
    // screen allows.
    void everyTextFits()
    {
        OrvaUI window;
        const double factor = window.ui.groupBox_4->x() / 250.0;
        QVERIFY(factor >= 1.0);
        const QSize screen = window.screen()->availableGeometry().size();
        QVERIFY(qAbs(window.width() - std::min(screen.width(), int(std::ceil(898 * factor)))) <= 2);
        QVERIFY(qAbs(window.height() - std::min(screen.height(), int(std::ceil(536 * factor)))) <=
                2);
        window.ui.cb_ports->addItems({QStringLiteral("ttyUSB0"), QStringLiteral("ttyACM1")});
        window.ui.cb_ports->setCurrentIndex(0);
        for (int probe = 0; probe < 8; ++probe)
            window.findChild<QLineEdit *>(QStringLiteral("le_line_meas_%1").arg(probe + 1))
                ->setText(QStringLiteral("1234.5"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QStringList cut;
        // Whether the text fits the room; a list of those that do not.
        const auto fits = [&](const QWidget *widget, const QString &text, int room) {
            const int needs = widget->fontMetrics().horizontalAdvance(text);
            if (needs > room)
                cut << QStringLiteral("%1: \"%2\" needs %3 px, has %4")
                           .arg(widget->objectName(), text, QString::number(needs),
                                QString::number(room));
        };
        for (QWidget *widget : window.ui.tab_4->findChildren<QWidget *>()) {
            if (auto *label = qobject_cast<QLabel *>(widget)) {
                fits(label, label->text(), label->contentsRect().width());
            } else if (auto *button = qobject_cast<QPushButton *>(widget)) {
                QStyleOptionButton option;
                option.initFrom(button);
                option.features |= QStyleOptionButton::AutoDefaultButton;
                fits(button, button->text(),
                     button->style()
                         ->subElementRect(QStyle::SE_PushButtonContents, &option, button)
                         .width());
            } else if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
                QStyleOptionFrame option;
                option.initFrom(edit);
                fits(edit, edit->text(),
                     edit->style()
                         ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                         .width());
            } else if (auto *box = qobject_cast<QGroupBox *>(widget)) {
                if (box->title().isEmpty())
                    continue;
                QStyleOptionGroupBox option;
                option.initFrom(box);
                option.text = box->title();
                option.subControls = QStyle::SC_GroupBoxLabel;
                const QRect title = box->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                                 QStyle::SC_GroupBoxLabel, box);
                // The address field sits in the title row, right of the title.
                int room = box->width() - title.left();
                for (auto *field : box->findChildren<QLineEdit *>())
                    if (field->y() < title.bottom())
                        room = std::min(room, field->x() - title.left());
                fits(box, box->title(), room);
            }
        }

        QComboBox *ports = window.ui.cb_ports;
        QStyleOptionComboBox option;
        option.initFrom(ports);
        const int room =
            ports->style()
                ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, ports)
                .width() -
            2;
        fits(ports, ports->currentText(), room);

        QTabBar *tabs = window.ui.tabWidget->tabBar();
        fits(tabs, tabs->tabText(0), tabs->tabRect(0).width());

        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("\n"))));

        // A port name longer than the box shows in full in the open list.
        const QString longName = QStringLiteral("ttyUSB_long_adapter_name_12");
        ports->addItem(longName);
        QAbstractItemView *view = ports->view();
        QVERIFY(view->minimumWidth() >=
                view->fontMetrics().horizontalAdvance(longName) + 2 * view->frameWidth());
    }

    // Every rectangle of the form, scaled, still holds the whole of its drawn one scaled: the
    // right and bottom edges round outwards, the left and top to the nearest pixel.
    void rectanglesRoundOutwards()
    {
        QMainWindow drawnWindow;
        Ui::OrvaUIClass drawn;
        drawn.setupUi(&drawnWindow);
        QMainWindow fittedWindow;
        Ui::OrvaUIClass fitted;
        fitted.setupUi(&fittedWindow);
        const double factor = formfit::fit(&fittedWindow, fitted);
        int checked = 0;
        for (QWidget *widget : fitted.tab_4->findChildren<QWidget *>()) {
            // The rectangles of the form: the page's own widgets and those of its boxes.
            QWidget *parent = widget->parentWidget();
            if ((parent != fitted.tab_4 && !qobject_cast<QGroupBox *>(parent)) ||
                (parent->layout() && parent->layout()->indexOf(widget) >= 0))
                continue;
            const QWidget *original = drawn.tab_4->findChild<QWidget *>(widget->objectName());
            if (!original)
                continue;
            const QRect was = original->geometry();
            const QRect is = widget->geometry();
            const QString where = widget->objectName();
            QVERIFY2(
                qAbs(is.x() - was.x() * factor) <= 0.5 && qAbs(is.y() - was.y() * factor) <= 0.5,
                qPrintable(where));
            QVERIFY2(is.x() + is.width() >= (was.x() + was.width()) * factor &&
                         is.y() + is.height() >= (was.y() + was.height()) * factor,
                     qPrintable(where));
            ++checked;
        }
        QVERIFY(checked > 50);
    }
};

QTEST_MAIN(TestLegibility)
#include "tst_legibility.moc"
