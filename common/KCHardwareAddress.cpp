#include "KCHardwareAddress.h"

#include <QStringList>

std::optional<KCHardwareAddress> KCHardwareAddress::fromBytes(const QByteArray &bytes)
{
    if (bytes.size() != 6)
        return std::nullopt;
    std::array<quint8, 6> value{};
    for (int i = 0; i < 6; ++i)
        value[size_t(i)] = quint8(bytes[i]);
    static constexpr std::array<quint8, 6> zero{0, 0, 0, 0, 0, 0};
    static constexpr std::array<quint8, 6> placeholder{0x02, 0, 0, 0, 0, 0};
    if (value == zero || value == placeholder)
        return std::nullopt;
    return KCHardwareAddress(value);
}

std::optional<KCHardwareAddress> KCHardwareAddress::fromText(const QString &text)
{
    QString digits = text;
    digits.remove(QLatin1Char(':')).remove(QLatin1Char('-'));
    digits = digits.toUpper();
    if (digits.size() != 12)
        return std::nullopt;
    QByteArray bytes;
    for (int i = 0; i < 12; i += 2) {
        bool ok = false;
        const QStringView pair = QStringView(digits).mid(i, 2);
        const uint byte = pair.toUInt(&ok, 16);
        // toUInt accepts a sign or a "0x"; only two plain digits make a byte here.
        if (!ok || !pair[0].isLetterOrNumber() || !pair[1].isLetterOrNumber())
            return std::nullopt;
        bytes.append(char(byte));
    }
    return fromBytes(bytes);
}

QString KCHardwareAddress::colonText() const
{
    QStringList groups;
    for (quint8 byte : m_bytes)
        groups.append(QStringLiteral("%1").arg(uint(byte), 2, 16, QLatin1Char('0')).toUpper());
    return groups.join(QLatin1Char(':'));
}

QString KCHardwareAddress::hexText() const
{
    return colonText().remove(QLatin1Char(':'));
}

QByteArray KCHardwareAddress::bytes() const
{
    return QByteArray(reinterpret_cast<const char *>(m_bytes.data()), 6);
}
