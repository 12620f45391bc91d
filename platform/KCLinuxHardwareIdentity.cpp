#include "KCLinuxHardwareIdentity.h"

#include <QDir>
#include <QFile>

namespace {

// Firmware values are a few dozen bytes; anything longer is not an identifier.
constexpr qint64 MaxValueSize = 256;

// What boards ship with when the maker never filled the field in.
bool isPlaceholder(const QString &value)
{
    static const char *const placeholders[] = {
        "None", "To be filled by O.E.M.", "To Be Filled By O.E.M.", "Not Specified", "Not Applicable",
        "Default string", "System Serial Number", "Chassis Serial Number", "Not Available", "N/A",
        "Unknown", "123456789",
    };
    for (const char *placeholder : placeholders) {
        if (value.compare(QLatin1String(placeholder), Qt::CaseInsensitive) == 0)
            return true;
    }
    // All zeros or all F's, with or without the dashes of a UUID.
    QString digits = value;
    digits.remove(QLatin1Char('-')).remove(QLatin1Char(' '));
    if (digits.isEmpty())
        return true;
    const QChar first = digits.at(0).toUpper();
    if (first != QLatin1Char('0') && first != QLatin1Char('F'))
        return false;
    for (const QChar c : std::as_const(digits)) {
        if (c.toUpper() != first)
            return false;
    }
    return true;
}

} // namespace

KCLinuxHardwareIdentity::KCLinuxHardwareIdentity(const QString &root)
    : m_root(root)
{
}

std::optional<QString> KCLinuxHardwareIdentity::meaningfulValue(const QByteArray &raw)
{
    // Device-tree strings end with a NUL byte.
    QByteArray bytes = raw;
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    const QString value = QString::fromUtf8(bytes).trimmed();
    if (value.isEmpty() || isPlaceholder(value))
        return std::nullopt;
    for (const QChar c : value) {
        if (!c.isPrint())
            return std::nullopt;
    }
    return value;
}

std::optional<QString> KCLinuxHardwareIdentity::readValue(const QString &relativePath) const
{
    QFile file(QDir(m_root).filePath(relativePath));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray raw = file.read(MaxValueSize + 1);
    if (raw.size() > MaxValueSize)
        return std::nullopt;
    return meaningfulValue(raw);
}

std::optional<QString> KCLinuxHardwareIdentity::systemUUID() const
{
    return readValue(QStringLiteral("sys/class/dmi/id/product_uuid"));
}

std::optional<QString> KCLinuxHardwareIdentity::serialNumber() const
{
    for (const char *path : {"sys/class/dmi/id/product_serial", "proc/device-tree/serial-number",
                             "sys/firmware/devicetree/base/serial-number"}) {
        if (auto value = readValue(QString::fromLatin1(path)))
            return value;
    }
    return std::nullopt;
}
