#include "app/OrvaUI.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    OrvaUI window;
    window.show();
    return application.exec();
}
