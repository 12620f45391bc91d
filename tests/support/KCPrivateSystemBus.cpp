#include "KCPrivateSystemBus.h"

#include "KCTestUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <unistd.h>

namespace {

const char *const AddressVariable = "DBUS_SYSTEM_BUS_ADDRESS";

QString readTemplate(const QString &name)
{
    QFile file(QDir(KCTest::sourceDir()).filePath(QStringLiteral("tests/support/dbus/") + name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

bool writeFile(const QString &path, const QString &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0;
}

QString currentUserName()
{
    return QString::number(::geteuid());
}

} // namespace

KCPrivateSystemBus::KCPrivateSystemBus(QStringList policyFiles)
    : m_policyFiles(std::move(policyFiles))
{
}

KCPrivateSystemBus::~KCPrivateSystemBus()
{
    for (const QString &name : std::as_const(m_connectionNames))
        QDBusConnection::disconnectFromBus(name);
    m_daemon.kill();
    if (m_previousAddress)
        qputenv(AddressVariable, *m_previousAddress);
    else
        qunsetenv(AddressVariable);
}

QString KCPrivateSystemBus::daemonPolicy()
{
    return QDir(KCTest::buildDir()).filePath(QStringLiteral("packaging/dbus-1/system.d/com.fendrel.kovra.connect.conf"));
}

QString KCPrivateSystemBus::fakeProgram(const QString &name)
{
    return QDir(KCTest::buildDir()).filePath(QStringLiteral("tests/fakes/") + name);
}

std::optional<KCTestUser> KCPrivateSystemBus::testUser()
{
    return KCTestUser::named(QStringLiteral("nobody"));
}

std::optional<KCTestUser> KCPrivateSystemBus::secondTestUser()
{
    return KCTestUser::named(QStringLiteral("daemon"));
}

bool KCPrivateSystemBus::writeConfiguration(QString *configFile)
{
    const QString busTemplate = readTemplate(QStringLiteral("kc-private-system-bus.conf.in"));
    const QString peersTemplate = readTemplate(QStringLiteral("kc-test-peers.conf.in"));
    if (busTemplate.isEmpty() || peersTemplate.isEmpty()) {
        m_error = QStringLiteral("the bus configuration templates are missing under %1").arg(KCTest::sourceDir());
        return false;
    }

    // Users in the configuration are numeric ids, which also covers a test user without a name.
    QStringList users{QStringLiteral("0"), currentUserName()};
    for (const auto &user : {testUser(), secondTestUser()}) {
        if (user)
            users.append(QString::number(user->uid));
    }
    users.removeDuplicates();
    QString connecting;
    for (const QString &user : std::as_const(users))
        connecting += QStringLiteral("    <allow user=\"%1\"/>\n").arg(user);

    const QDir folder(m_folder.path());
    const QString peersFile = folder.filePath(QStringLiteral("test-peers.conf"));
    QString includes;
    for (const QString &policy : std::as_const(m_policyFiles)) {
        if (!QFileInfo::exists(policy)) {
            m_error = QStringLiteral("no policy file at %1").arg(policy);
            return false;
        }
        includes += QStringLiteral("  <include>%1</include>\n").arg(QFileInfo(policy).absoluteFilePath());
    }
    includes += QStringLiteral("  <include>%1</include>\n").arg(peersFile);

    QString busText = busTemplate;
    busText.replace(QStringLiteral("@LISTEN_ADDRESS@"), QStringLiteral("unix:path=") + folder.filePath(QStringLiteral("bus")));
    busText.replace(QStringLiteral("@CONNECTING_USERS@"), connecting);
    busText.replace(QStringLiteral("@INCLUDES@"), includes);
    QString peersText = peersTemplate;
    peersText.replace(QStringLiteral("@TEST_USER@"), currentUserName());

    *configFile = folder.filePath(QStringLiteral("bus.conf"));
    if (!writeFile(*configFile, busText) || !writeFile(peersFile, peersText)) {
        m_error = QStringLiteral("could not write the bus configuration in %1").arg(folder.path());
        return false;
    }
    return true;
}

bool KCPrivateSystemBus::start()
{
    if (!m_folder.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    // Programs run as the test users must reach the socket inside the folder.
    QFile::setPermissions(m_folder.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                               | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                                               | QFileDevice::ReadOther | QFileDevice::ExeOther);
    QString configFile;
    if (!writeConfiguration(&configFile))
        return false;

    const QStringList arguments{QStringLiteral("--config-file=") + configFile, QStringLiteral("--nofork"),
                                QStringLiteral("--nopidfile"), QStringLiteral("--nosyslog"),
                                QStringLiteral("--print-address=1")};
    if (!m_daemon.start(QStringLiteral("dbus-daemon"), arguments, QProcessEnvironment::systemEnvironment())) {
        m_error = QStringLiteral("dbus-daemon did not start");
        return false;
    }
    const std::optional<QString> address = m_daemon.waitForLine(QStringLiteral("unix:"));
    if (!address) {
        m_error = QStringLiteral("dbus-daemon printed no address: %1").arg(m_daemon.standardError());
        return false;
    }
    m_address = address->trimmed();

    if (qEnvironmentVariableIsSet(AddressVariable))
        m_previousAddress = qgetenv(AddressVariable);
    qputenv(AddressVariable, m_address.toUtf8());
    return true;
}

QProcessEnvironment KCPrivateSystemBus::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(AddressVariable), m_address);
    return environment;
}

QDBusConnection KCPrivateSystemBus::connect()
{
    static std::atomic<int> counter{0};
    const QString name = QStringLiteral("kc-private-system-bus-%1").arg(++counter);
    m_connectionNames.append(name);
    return QDBusConnection::connectToBus(m_address, name);
}

std::unique_ptr<KCChildProcess> KCPrivateSystemBus::startProgram(const QString &program, const QStringList &arguments,
                                                                 const std::optional<KCTestUser> &user)
{
    auto process = std::make_unique<KCChildProcess>();
    if (!process->start(program, arguments, environment(), user))
        return nullptr;
    return process;
}

std::unique_ptr<KCChildProcess> KCPrivateSystemBus::startFake(const QString &name, const QStringList &arguments,
                                                              const std::optional<KCTestUser> &user)
{
    std::unique_ptr<KCChildProcess> fake = startProgram(fakeProgram(name), arguments, user);
    // Every fake prints "ready" once it owns its name.
    if (!fake || !fake->waitForLine(QStringLiteral("ready")))
        return nullptr;
    return fake;
}
