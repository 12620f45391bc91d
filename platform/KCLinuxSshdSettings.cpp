#include "KCLinuxSshdSettings.h"

#include "KCSystemFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>

namespace {

using namespace std::chrono_literals;

const QString serverProgram = QStringLiteral("/usr/sbin/sshd");
const QString configurationFolder = QStringLiteral("/etc/ssh");
// Includes nest rarely and never deeply; the limit stops a file that includes itself.
constexpr int maxIncludeDepth = 8;
constexpr qsizetype maxFileBytes = 1 << 20;

// systemd's unit search path, most important first.
const QStringList unitFolders = {
    QStringLiteral("/etc/systemd/system"),
    QStringLiteral("/run/systemd/system"),
    QStringLiteral("/usr/lib/systemd/system"),
    QStringLiteral("/lib/systemd/system"),
};
const QString socketUnit = QStringLiteral("ssh.socket");

QStringList lines(const QString &path)
{
    const auto contents = KCSystemFiles::read(path, maxFileBytes);
    if (!contents.ok())
        return {};
    return QString::fromUtf8(contents.data).split(QLatin1Char('\n'));
}

// A configuration line's keyword, lower-cased, and its first argument: "Port 2222",
// "Port=2222" and "Port \"2222\"" all give ("port", "2222").
std::optional<std::pair<QString, QString>> keywordAndArgument(const QString &line)
{
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
        return std::nullopt;
    qsizetype i = 0;
    while (i < trimmed.size() && trimmed[i].isLetter() && trimmed[i].unicode() < 128)
        ++i;
    const QString keyword = trimmed.left(i).toLower();
    const qsizetype keywordEnd = i;
    while (i < trimmed.size() && trimmed[i].isSpace())
        ++i;
    if (i < trimmed.size() && trimmed[i] == QLatin1Char('=')) {
        ++i;
        while (i < trimmed.size() && trimmed[i].isSpace())
            ++i;
    } else if (i == keywordEnd) {
        return std::nullopt; // neither blank nor "=" after the keyword
    }
    if (i < trimmed.size() && trimmed[i] == QLatin1Char('"'))
        ++i;
    const qsizetype start = i;
    while (i < trimmed.size() && !trimmed[i].isSpace() && trimmed[i] != QLatin1Char('"'))
        ++i;
    if (keyword.isEmpty() || i == start)
        return std::nullopt;
    return std::make_pair(keyword, trimmed.mid(start, i - start));
}

// The port of a socket unit's listen address, or the address as written when it names no TCP
// port: "2222", "0.0.0.0:2222" and "[::]:2222" give "2222"; "/run/ssh.sock" stays as it is.
QString listenPort(const QString &value)
{
    if (value.startsWith(QLatin1Char('/')) || value.startsWith(QLatin1Char('@')))
        return value;
    if (value.startsWith(QLatin1Char('['))) {
        const qsizetype close = value.indexOf(QStringLiteral("]:"));
        return close < 0 ? value : value.mid(close + 2);
    }
    const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0 && value.indexOf(QLatin1Char(':')) == colon)
        return value.mid(colon + 1);
    return value;
}

// Applies one unit file's ListenStream lines to the list: an empty assignment clears it.
void applyListenStreams(const QString &path, QStringList &listeners)
{
    bool inSocketSection = false;
    for (const QString &rawLine : lines(path)) {
        const QString line = rawLine.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inSocketSection = line == QLatin1String("[Socket]");
            continue;
        }
        if (!inSocketSection || line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0 || line.left(equals).trimmed() != QLatin1String("ListenStream"))
            continue;
        const QString value = line.mid(equals + 1).trimmed();
        if (value.isEmpty())
            listeners.clear();
        else
            listeners.append(value);
    }
}

} // namespace

KCLinuxSshdSettings::KCLinuxSshdSettings(const QString &root, const KCCommandRunner &runner, bool mayRunServer)
    : m_root(root)
    , m_runner(runner)
    , m_mayRunServer(mayRunServer)
{
}

std::optional<QString> KCLinuxSshdSettings::listenerValue() const
{
    if (auto port = serverReportedPort())
        return port;
    if (auto port = configurationFilePort())
        return port;
    return socketUnitListener();
}

std::optional<QString> KCLinuxSshdSettings::serverReportedPort() const
{
    if (!m_mayRunServer)
        return std::nullopt;
    // The server refuses to print its configuration when it is broken or its host keys are
    // unreadable; then the files tell.
    const auto result = m_runner.run(serverProgram, {QStringLiteral("-T")}, 10s);
    if (!result.finished || result.exitCode != 0)
        return std::nullopt;
    for (const QByteArray &line : result.standardOutput.split('\n')) {
        const auto entry = keywordAndArgument(QString::fromUtf8(line));
        if (entry && entry->first == QLatin1String("port"))
            return entry->second;
    }
    return std::nullopt;
}

std::optional<QString> KCLinuxSshdSettings::configurationFilePort() const
{
    return portInConfigurationFile(configurationFolder + QStringLiteral("/sshd_config"), 0);
}

std::optional<QString> KCLinuxSshdSettings::portInConfigurationFile(const QString &path, int depth) const
{
    if (depth > maxIncludeDepth)
        return std::nullopt;
    for (const QString &line : lines(KCSystemFiles::under(m_root, path))) {
        const auto entry = keywordAndArgument(line);
        if (!entry)
            continue;
        // Port is not allowed in Match blocks; what follows the first one is conditional.
        if (entry->first == QLatin1String("match"))
            return std::nullopt;
        if (entry->first == QLatin1String("port"))
            return entry->second;
        if (entry->first != QLatin1String("include"))
            continue;
        const QString included = QDir::isAbsolutePath(entry->second) ? entry->second
                                                                    : configurationFolder + QLatin1Char('/') + entry->second;
        const QFileInfo pattern(included);
        const QDir folder(KCSystemFiles::under(m_root, pattern.path()));
        const QStringList matches = folder.entryList({pattern.fileName()}, QDir::Files, QDir::Name);
        for (const QString &match : matches) {
            if (auto port = portInConfigurationFile(pattern.path() + QLatin1Char('/') + match, depth + 1))
                return port;
        }
    }
    return std::nullopt;
}

std::optional<QString> KCLinuxSshdSettings::socketUnitListener() const
{
    QStringList listeners;
    bool found = false;
    for (const QString &folder : unitFolders) {
        const QString path = KCSystemFiles::under(m_root, folder + QLatin1Char('/') + socketUnit);
        if (QFileInfo::exists(path)) {
            applyListenStreams(path, listeners);
            found = true;
            break;
        }
    }
    if (!found)
        return std::nullopt;
    // Drop-ins of the same name: the one in the most important folder wins; they apply in the
    // order of their names.
    QMap<QString, QString> dropIns;
    for (const QString &folder : unitFolders) {
        const QDir dropInFolder(KCSystemFiles::under(m_root, folder + QLatin1Char('/') + socketUnit + QStringLiteral(".d")));
        for (const QString &name : dropInFolder.entryList({QStringLiteral("*.conf")}, QDir::Files, QDir::Name)) {
            if (!dropIns.contains(name))
                dropIns.insert(name, dropInFolder.filePath(name));
        }
    }
    for (const QString &path : std::as_const(dropIns))
        applyListenStreams(path, listeners);
    if (listeners.isEmpty())
        return std::nullopt;
    return listenPort(listeners.constFirst());
}
