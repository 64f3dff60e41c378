#include "app/OrvaUI.h"
#include "app/SecondCopy.h"
#include "workfolder/WorkFolderLock.h"

#include <QApplication>
#include <QDir>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // Taken before the window, whose log would otherwise move the running copy's log aside.
    WorkFolderLock folderLock;
    if (!folderLock.tryLock())
        return refuseSecondCopy(QDir::currentPath(), folderLock.holder());
    OrvaUI window;
    window.show();
    return application.exec();
}
