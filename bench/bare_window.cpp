#include <QApplication>
#include <QMainWindow>

// The yardstick for start-up time and memory: the least a Qt Widgets program does to show a
// window of the tool's size.
int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QMainWindow window;
    window.resize(898, 536);
    window.show();
    return application.exec();
}
