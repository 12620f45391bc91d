#include "KCDmCryptDiskEncryption.h"

#include "KCSystemFiles.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Stacks of device mappings are a few deep; the limit guards against a loop in a broken tree.
constexpr int maxStackDepth = 16;

// mountinfo escapes blanks and backslashes in paths as octal sequences.
QString unescapeMountField(const QByteArray &field)
{
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok && value < 256) {
                out.append(char(value));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return QString::fromUtf8(out);
}

} // namespace

KCDmCryptDiskEncryption::KCDmCryptDiskEncryption(const QString &root)
    : m_root(root)
{
}

bool KCDmCryptDiskEncryption::rootFileSystemEncrypted() const
{
    const QString device = rootBlockDevice();
    return !device.isEmpty() && isEncrypted(device, 0);
}

QString KCDmCryptDiskEncryption::rootBlockDevice() const
{
    const auto mountInfo = KCSystemFiles::read(KCSystemFiles::under(m_root, QStringLiteral("/proc/self/mountinfo")), 4 << 20);
    if (!mountInfo.ok())
        return {};
    // "36 35 98:0 / / rw,noatime shared:1 - ext4 /dev/mapper/root rw": the last mount on "/" is
    // the one in effect.
    QByteArray deviceNumber;
    QString source;
    for (const QByteArray &line : mountInfo.data.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf("-");
        if (fields.size() < 5 || separator < 6 || separator + 2 >= fields.size() || fields[4] != "/")
            continue;
        deviceNumber = fields[2];
        source = unescapeMountField(fields[separator + 2]);
    }
    if (deviceNumber.isEmpty())
        return {};
    // Most file systems report their block device's number; btrfs reports an anonymous one, so
    // the source device's name is the other way in.
    const QString byNumber = KCSystemFiles::under(m_root, QStringLiteral("/sys/dev/block/") + QString::fromLatin1(deviceNumber));
    if (!deviceNumber.startsWith("0:") && QFileInfo(byNumber).isDir())
        return QFileInfo(byNumber).canonicalFilePath();
    if (!source.startsWith(QLatin1String("/dev/")))
        return {};
    const QString node = QFileInfo(KCSystemFiles::under(m_root, source)).canonicalFilePath();
    if (node.isEmpty())
        return {};
    const QString byName = KCSystemFiles::under(m_root, QStringLiteral("/sys/class/block/") + QFileInfo(node).fileName());
    return QFileInfo(byName).isDir() ? QFileInfo(byName).canonicalFilePath() : QString();
}

bool KCDmCryptDiskEncryption::isEncrypted(const QString &blockDeviceFolder, int depth) const
{
    if (depth > maxStackDepth)
        return false;
    const QDir folder(blockDeviceFolder);
    if (KCSystemFiles::firstLine(folder.filePath(QStringLiteral("dm/uuid"))).startsWith(QLatin1String("CRYPT-")))
        return true;
    const QDir slaves(folder.filePath(QStringLiteral("slaves")));
    const auto listing = KCSystemFiles::list(slaves.path());
    for (const QString &name : listing.names) {
        const QString slave = QFileInfo(slaves.filePath(name)).canonicalFilePath();
        if (!slave.isEmpty() && isEncrypted(slave, depth + 1))
            return true;
    }
    return false;
}
