#include "serial/PortWatch.h"

#include <QDirIterator>
#include <QFileInfo>

namespace {

// A safety net for a change the folders do not show: every so many polls enumerate anyway.
constexpr int pollsBetweenFullLooks = 20;

}  // namespace

QStringList PortWatch::deviceFolders()
{
    QStringList entries;
    for (const char *folder : {"/dev", "/sys/class/tty"}) {
        QDirIterator it(QString::fromLatin1(folder),
                        QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
        while (it.hasNext()) {
            it.next();
            // A device bound over an empty file keeps the name but stops being a plain file.
            entries.append(it.filePath() +
                           (it.fileInfo().isFile() ? QStringLiteral(" file") : QString()));
        }
    }
    entries.sort();
    return entries;
}

bool PortWatch::mayHaveChanged()
{
    const QStringList folders = deviceFolders();
    const bool changed =
        folders.isEmpty() || folders != lastFolders || ++quietPolls >= pollsBetweenFullLooks;
    if (changed) {
        lastFolders = folders;
        quietPolls = 0;
    }
    return changed;
}
