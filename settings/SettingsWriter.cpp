#include "settings/SettingsWriter.h"

#include "protocol/ProbeLine.h"

#include <QFile>
#include <QSaveFile>

namespace {

const QString fileName = QStringLiteral("settings.cfg");
const QString backupName = QStringLiteral("settings.cfg.bak");

}  // namespace

namespace settingswriter {

QByteArray record(const QString &port, const std::vector<uint8_t> &addresses, int32_t delay)
{
    QByteArray text = "Port=" + port.toUtf8() + "\r\n";
    for (size_t probe = 0; probe < size_t(probeline::probeCount); ++probe) {
        if (probe == addresses.size())
            text += "\r\n";
        // Address 0 stands in for an absent probe, which is what the window reads it as.
        const int address = probe < addresses.size() ? addresses[probe] : 0;
        text += "Probe" + QByteArray::number(int(probe + 1)) + '=' + QByteArray::number(address) +
                "\r\n";
    }
    return text + "Delay=" + QByteArray::number(delay) + "\r\n";
}

std::optional<QString> save(const QByteArray &record)
{
    if (QFile::exists(fileName)) {
        QFile::remove(backupName);
        QFile current(fileName);
        if (!current.copy(backupName))
            return QStringLiteral("%1: %2").arg(backupName, current.errorString());
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(record) != record.size() || !file.commit())
        return QStringLiteral("%1: %2").arg(fileName, file.errorString());
    return std::nullopt;
}

}  // namespace settingswriter
