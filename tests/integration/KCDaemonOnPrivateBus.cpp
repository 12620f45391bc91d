#include "KCDaemonOnPrivateBus.h"

#include "KCDaemonKeychainAccess.h"
#include "KCFileKeychain.h"
#include "KCJsonDefaultsStore.h"

#include <QDir>
#include <QFile>

#include <csignal>

namespace {

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

} // namespace

KCDaemonOnPrivateBus::KCDaemonOnPrivateBus() = default;

KCDaemonOnPrivateBus::~KCDaemonOnPrivateBus()
{
    // The daemon first, so it never sees its peers go.
    m_daemon.reset();
}

QString KCDaemonOnPrivateBus::stateDirectory() const
{
    return QDir(m_scratch.path()).filePath(QStringLiteral("state"));
}

bool KCDaemonOnPrivateBus::start(const Options &options, QString *error)
{
    if (!m_namespace.isReady()) {
        *error = m_namespace.error();
        return false;
    }
    if (!bus.start()) {
        *error = bus.error();
        return false;
    }
    control = bus.connect();
    if (options.polkit && !(m_polkit = bus.startFakePolkit())) {
        *error = QStringLiteral("the fake polkit did not start");
        return false;
    }
    if (options.logind && !(m_logind = bus.startFakeLogind())) {
        *error = QStringLiteral("the fake logind did not start");
        return false;
    }

    const QDir scratch(m_scratch.path());
    QStringList serviceOptions;
    if (!options.serviceScript.isEmpty()) {
        const QString script = scratch.filePath(QStringLiteral("service-script.json"));
        if (!writeFile(script, options.serviceScript)) {
            *error = QStringLiteral("cannot write the service's script");
            return false;
        }
        serviceOptions << QStringLiteral("--script") << script;
    }
    m_service = std::make_unique<KCServiceInNamespace>(m_namespace, scratch.filePath(QStringLiteral("requests.jsonl")), serviceOptions);
    if (m_service->baseURL().isEmpty()) {
        *error = QStringLiteral("the fake account service did not come up");
        return false;
    }

    {
        KCJsonDefaultsStore store(stateDirectory(), QStringLiteral("com.fendrel.kovra.connect"));
        KCFileKeychain keychain(stateDirectory());
        for (const auto &[account, password] : options.accounts) {
            if (!KCDaemonKeychainAccessAddAccount(keychain, store, account, password)) {
                *error = QStringLiteral("cannot store the account %1").arg(account);
                return false;
            }
        }
    }
    m_config = scratch.filePath(QStringLiteral("daemon.conf"));
    if (!writeFile(m_config, QStringLiteral("[Service]\nBaseURL=%1\n[Daemon]\nStateDirectory=%2\n").arg(m_service->baseURL(), stateDirectory()).toUtf8())) {
        *error = QStringLiteral("cannot write the daemon's configuration");
        return false;
    }
    return startDaemon(error);
}

bool KCDaemonOnPrivateBus::startDaemon(QString *error)
{
    m_daemon = std::make_unique<KCDaemonProcess>(QStringList{QStringLiteral("--config"), m_config}, m_scratch.path(), &m_namespace, bus.address());
    if (!m_daemon->started()) {
        *error = m_daemon->error();
        return false;
    }
    if (!m_daemon->waitForStandardError(QStringLiteral("Listener: "))) {
        *error = QStringLiteral("the daemon did not listen: %1").arg(m_daemon->standardError());
        return false;
    }
    return true;
}

bool KCDaemonOnPrivateBus::restartDaemon(QString *error)
{
    m_daemon->sendSignal(SIGTERM);
    if (!m_daemon->waitForExit()) {
        *error = QStringLiteral("the daemon did not stop");
        return false;
    }
    return startDaemon(error);
}
