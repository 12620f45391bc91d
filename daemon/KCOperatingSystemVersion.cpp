#include "KCOperatingSystemVersion.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <sys/utsname.h>

namespace {

// os-release is a few hundred bytes; anything far larger is not one.
constexpr qint64 MaximumOsReleaseSize = 64 * 1024;

std::optional<QByteArray> readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.read(MaximumOsReleaseSize);
}

} // namespace

std::optional<QString> KCOperatingSystemVersion::versionIdFromOsRelease(const QByteArray &osRelease)
{
    for (const QByteArray &rawLine : osRelease.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (!line.startsWith("VERSION_ID="))
            continue;
        QByteArray value = line.mid(int(sizeof("VERSION_ID=") - 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        return QString::fromUtf8(value);
    }
    return std::nullopt;
}

std::optional<QString> KCOperatingSystemVersion::fromVersionText(const QString &text)
{
    QStringList numbers;
    for (const QString &component : text.trimmed().split(QLatin1Char('.'))) {
        qsizetype digits = 0;
        while (digits < component.size() && component[digits] >= QLatin1Char('0') && component[digits] <= QLatin1Char('9'))
            ++digits;
        bool ok = false;
        const qint64 number = component.left(digits).toLongLong(&ok);
        if (!ok)
            break;
        numbers.append(QString::number(number));
        // "6.1.0-18-amd64": the release ends where a component holds more than digits.
        if (numbers.size() == 3 || digits < component.size())
            break;
    }
    if (numbers.isEmpty())
        return std::nullopt;
    while (numbers.size() < 3)
        numbers.append(QStringLiteral("0"));
    return numbers.join(QLatin1Char('.'));
}

QString KCOperatingSystemVersion::versionString(const QString &fileSystemRoot)
{
    for (const char *file : {"/etc/os-release", "/usr/lib/os-release"}) {
        const auto content = readSmallFile(QDir::cleanPath(fileSystemRoot + QLatin1String(file)));
        if (!content)
            continue;
        if (const auto id = versionIdFromOsRelease(*content)) {
            if (const auto version = fromVersionText(*id))
                return *version;
        }
        // The first os-release found is the system's; a rolling release has no VERSION_ID.
        break;
    }
    struct utsname names {};
    if (::uname(&names) == 0) {
        if (const auto version = fromVersionText(QString::fromLocal8Bit(names.release)))
            return *version;
    }
    return QStringLiteral("0.0.0");
}
