#pragma once

#include <QString>

#include <optional>

// The operating system's version as the account service takes it: "major.minor.patch", each a
// decimal number. Taken from VERSION_ID of os-release ("12" gives "12.0.0", "22.04" gives
// "22.4.0"), else from the kernel release ("6.1.0-18-amd64" gives "6.1.0"), else "0.0.0".
namespace KCOperatingSystemVersion {

// Reads ROOT/etc/os-release, then ROOT/usr/lib/os-release, then asks the kernel.
QString versionString(const QString &fileSystemRoot);

// The leading dotted numbers of the text, padded with zeros to three; none when the text does
// not begin with a number.
std::optional<QString> fromVersionText(const QString &text);

// VERSION_ID of the os-release text, its quotes removed; none when it has none.
std::optional<QString> versionIdFromOsRelease(const QByteArray &osRelease);

} // namespace KCOperatingSystemVersion
