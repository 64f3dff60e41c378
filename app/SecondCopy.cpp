#include "app/SecondCopy.h"
#include "Version.h"

#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>

int refuseSecondCopy(const QString &folder, qint64 holder)
{
    const QString running = holder > 0 ? QStringLiteral(" (process %1)").arg(holder) : QString();
    const QByteArray text = QStringLiteral(
                                "t7r-demo already runs in %1%2; this copy does not "
                                "start and changes nothing there.\n")
                                .arg(folder, running)
                                .toLocal8Bit();
    std::fputs(text.constData(), stderr);
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal")) {
        QMessageBox::critical(nullptr, QStringLiteral("T7R Demo v" T7R_VERSION),
                              QStringLiteral("Программа уже запущена в папке %1%2.\n"
                                             "Вторая копия не запущена.")
                                  .arg(folder, running));
    }
    return 1;
}
