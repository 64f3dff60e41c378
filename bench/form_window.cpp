#include "ui_OrvaUI.h"

#include <QApplication>
#include <QMainWindow>

// The tool's form on a plain window and nothing else: no port, log, settings or picture. Set
// beside the bare window and the tool, it tells what the widgets cost from what the tool's own
// start-up work costs.
int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QMainWindow window;
    Ui::OrvaUIClass form;
    form.setupUi(&window);
    window.show();
    return application.exec();
}
