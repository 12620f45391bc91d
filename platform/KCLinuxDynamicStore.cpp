#include "KCLinuxDynamicStore.h"

#include "KCDBusHostnamed.h"
#include "KCRtnetlinkRouteWatch.h"
#include "KCSystemInformationSources.h"
#include "KCSystemFiles.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>

#include <sys/stat.h>

namespace {

const QStringList configurationFiles = {QStringLiteral("hostname"), QStringLiteral("machine-info")};

// The static host name: the first line of the file that is neither empty nor a comment. A line
// that cannot be a host name (white space or control characters in it, or too long) is no name.
std::optional<QString> readStaticHostname(const QString &path)
{
    const auto contents = KCSystemFiles::read(path, 4096);
    if (!contents.ok())
        return std::nullopt;
    for (const QByteArray &rawLine : contents.data.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.size() > 253)
            return std::nullopt;
        for (const QChar c : line) {
            if (c.isSpace() || c.category() == QChar::Other_Control)
                return std::nullopt;
        }
        return line;
    }
    return std::nullopt;
}

} // namespace

KCLinuxDynamicStore::KCLinuxDynamicStore(std::unique_ptr<KCHostnamed> hostnamed, const KCRoutingTables &routing,
                                         std::unique_ptr<KCRouteWatch> routeWatch, const QString &configurationFolder,
                                         KCTimerSource &timers, QObject *parent)
    : KCDynamicStore(parent)
    , m_hostnamed(std::move(hostnamed))
    , m_routing(routing)
    , m_routeWatch(std::move(routeWatch))
    , m_configurationFolder(configurationFolder)
{
    m_settleTimer = timers.createTimer(KCTimerKind::SingleShot, [this] { settle(); });
    connect(m_hostnamed.get(), &KCHostnamed::prettyHostnameChanged, this, &KCLinuxDynamicStore::namesMayHaveChanged);
    connect(m_routeWatch.get(), &KCRouteWatch::routingChanged, this, &KCLinuxDynamicStore::routingMayHaveChanged);
    // Editors and hostnamectl replace the file instead of writing into it, which only the
    // folder sees; a write in place is only seen by a watch on the file itself.
    m_folderWatch.addPath(m_configurationFolder);
    watchConfigurationFiles();
    connect(&m_folderWatch, &QFileSystemWatcher::directoryChanged, this, &KCLinuxDynamicStore::configurationFolderChanged);
    connect(&m_folderWatch, &QFileSystemWatcher::fileChanged, this, &KCLinuxDynamicStore::configurationFolderChanged);

    m_fileStamps = stampConfigurationFiles();
    m_names = readNames();
    m_globalIPv4 = m_routing.defaultIPv4Route();
}

KCLinuxDynamicStore::~KCLinuxDynamicStore() = default;

std::unique_ptr<KCLinuxDynamicStore> KCLinuxDynamicStore::createSystemStore(QObject *parent)
{
    return std::make_unique<KCLinuxDynamicStore>(std::make_unique<KCDBusHostnamed>(QDBusConnection::systemBus()),
                                                 *KCSystemInformationSources::system().routing,
                                                 std::make_unique<KCRtnetlinkRouteWatch>(), QStringLiteral("/etc"),
                                                 KCTimerSource::system(), parent);
}

KCLinuxDynamicStore::Names KCLinuxDynamicStore::readNames() const
{
    Names names;
    const auto staticHostname = readStaticHostname(QDir(m_configurationFolder).filePath(QStringLiteral("hostname")));
    if (staticHostname) {
        const QString label = staticHostname->section(QLatin1Char('.'), 0, 0);
        if (!label.isEmpty())
            names.localHostName = label;
    }
    const auto pretty = m_hostnamed->prettyHostname();
    if (pretty && !pretty->isEmpty())
        names.computerName = *pretty;
    else
        names.computerName = staticHostname;
    return names;
}

QList<KCLinuxDynamicStore::FileStamp> KCLinuxDynamicStore::stampConfigurationFiles() const
{
    QList<FileStamp> stamps;
    for (const QString &name : configurationFiles) {
        FileStamp stamp;
        struct stat info{};
        if (::stat(QFile::encodeName(QDir(m_configurationFolder).filePath(name)).constData(), &info) == 0) {
            stamp.exists = true;
            stamp.inode = info.st_ino;
            stamp.size = info.st_size;
            stamp.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        }
        stamps.append(stamp);
    }
    return stamps;
}

void KCLinuxDynamicStore::watchConfigurationFiles()
{
    const QStringList watched = m_folderWatch.files();
    for (const QString &name : configurationFiles) {
        const QString path = QDir(m_configurationFolder).filePath(name);
        if (!watched.contains(path) && QFile::exists(path))
            m_folderWatch.addPath(path);
    }
}

void KCLinuxDynamicStore::configurationFolderChanged()
{
    watchConfigurationFiles();
    // The folder changes for many reasons (resolv.conf, mtab); only our two files matter.
    const QList<FileStamp> stamps = stampConfigurationFiles();
    if (stamps == m_fileStamps)
        return;
    m_fileStamps = stamps;
    namesMayHaveChanged();
}

void KCLinuxDynamicStore::namesMayHaveChanged()
{
    m_namesDirty = true;
    if (!m_settleTimer->isActive())
        m_settleTimer->start(settleTime);
}

void KCLinuxDynamicStore::routingMayHaveChanged()
{
    m_routingDirty = true;
    if (!m_settleTimer->isActive())
        m_settleTimer->start(settleTime);
}

void KCLinuxDynamicStore::settle()
{
    KCDynamicStoreKeys changed;
    if (std::exchange(m_namesDirty, false)) {
        const Names names = readNames();
        if (names.computerName != m_names.computerName)
            changed |= KCDynamicStoreKey::ComputerName;
        if (names.localHostName != m_names.localHostName)
            changed |= KCDynamicStoreKey::HostNames;
        m_names = names;
    }
    if (std::exchange(m_routingDirty, false)) {
        const auto globalIPv4 = m_routing.defaultIPv4Route();
        if (globalIPv4 != m_globalIPv4)
            changed |= KCDynamicStoreKey::GlobalIPv4;
        m_globalIPv4 = globalIPv4;
    }
    if (changed)
        Q_EMIT keysChanged(changed);
    Q_EMIT settled();
}
