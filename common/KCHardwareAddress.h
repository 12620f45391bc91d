#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

// A six-byte hardware (MAC) address. Only a valid one can be made: all zeros and
// 02:00:00:00:00:00 (what some drivers and virtual machines report before they have a real one)
// never identify a machine.
class KCHardwareAddress {
public:
    // None unless the bytes are six and valid.
    static std::optional<KCHardwareAddress> fromBytes(const QByteArray &bytes);
    // Twelve hexadecimal digits, with or without ":" or "-" between the groups; none unless they
    // make a valid address.
    static std::optional<KCHardwareAddress> fromText(const QString &text);

    // "00:1A:2B:3C:4D:5E"
    QString colonText() const;
    // "001A2B3C4D5E"
    QString hexText() const;
    QByteArray bytes() const;

    friend bool operator==(const KCHardwareAddress &, const KCHardwareAddress &) = default;

private:
    explicit KCHardwareAddress(const std::array<quint8, 6> &bytes)
        : m_bytes(bytes)
    {
    }
    std::array<quint8, 6> m_bytes;
};
