#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// settings.cfg written back on the operator's request, in the record the readers take.
namespace settingswriter {

// The record for up to eight probes in order. Probes past the last address are left to the line
// readers as absent: a blank line ends their probe list, while the whole-file scan, which takes
// any run of white space between fields, still finds eight probe lines and the delay.
QByteArray record(const QString &port, const std::vector<uint8_t> &addresses, int32_t delay);

// Replaces settings.cfg in the working directory all at once, first copying the file it had to
// settings.cfg.bak. Returns why it could not, or nothing.
std::optional<QString> save(const QByteArray &record);

}  // namespace settingswriter
