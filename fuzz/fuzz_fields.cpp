// Any text as a probe's address field and as the measure value.

#include "FuzzCheck.h"
#include "protocol/FieldRules.h"

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

// What an operator may type as an address: digits with an optional plus, white space around them.
std::optional<uint8_t> referenceAddress(const QString &text)
{
    const QString trimmed = text.trimmed();
    int position = trimmed.startsWith(QLatin1Char('+')) ? 1 : 0;
    if (position == trimmed.size())
        return std::nullopt;
    unsigned value = 0;
    for (; position < trimmed.size(); ++position) {
        const ushort c = trimmed.at(position).unicode();
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > 255)
            return std::nullopt;
    }
    return uint8_t(value);
}

void checkAddress(const QString &text)
{
    FUZZ_CHECK(fieldrules::parseProbeAddress(text) == referenceAddress(text));
}

void checkMeasureValue(const QString &text)
{
    const std::optional<float> value = fieldrules::parseMeasureValue(text);
    if (!value)
        return;
    FUZZ_CHECK(std::isfinite(*value));
    // A comma is the Russian decimal separator; taking it would read 12,5 as some other number.
    FUZZ_CHECK(!text.contains(QLatin1Char(',')));

    // The C library, in the C locale, must read the same number from the same text. Qt also
    // takes the typographic minus sign U+2212 for a minus, which is what the operator meant.
    QString trimmed = text.trimmed();
    trimmed.replace(QChar(0x2212), QLatin1Char('-'));
    for (const QChar c : trimmed)
        FUZZ_CHECK(c.unicode() < 0x80 && c.unicode() != 0);
    const QByteArray ascii = trimmed.toLatin1();
    char *end = nullptr;
    const double reference = std::strtod(ascii.constData(), &end);
    FUZZ_CHECK(end == ascii.constData() + ascii.size());
    FUZZ_CHECK(float(reference) == *value);
}

void checkText(const QString &text)
{
    checkAddress(text);
    checkMeasureValue(text);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The tool runs with Russian as the default locale; the fields must not follow it.
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    std::setlocale(LC_NUMERIC, "C");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // As typed (UTF-8), and as raw UTF-16 code units, which reach lone surrogates too.
    checkText(QString::fromUtf8(reinterpret_cast<const char *>(data), int(size)));
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * 2);
    checkText(QString::fromUtf16(units.data(), int(units.size())));
    return 0;
}
