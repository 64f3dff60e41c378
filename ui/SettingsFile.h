#pragma once

#include "settings/Settings.h"

#include <QObject>

#include <cstdint>
#include <optional>
#include <vector>

class OrvaUI;

// settings.cfg as the operator sees it: a record that was not used is said at start, and
// "Файл" → "Сохранить адреса в settings.cfg" writes the address fields back, with the delay in
// use. Nothing else writes the file.
class SettingsFile : public QObject
{
    Q_OBJECT

public:
    SettingsFile(OrvaUI *window, const Settings &readAtStart);

    // The address fields to settings.cfg; refused, with a word to the operator, when a field
    // holds no address or leaves a gap before a later one.
    void saveAddresses();

private:
    void showMismatch(const Settings &settings);
    std::optional<std::vector<uint8_t>> fieldAddresses();

    OrvaUI *window;
};
