#include "KCTestDaemonOnBus.h"

QVariantMap KCRecordingOperations::status()
{
    return {{QStringLiteral("KCDaemonStatusPortMapping"), QStringLiteral("KCDaemonStatusPortMappingSuccessful")},
            {QStringLiteral("KCDaemonStatusMappedPorts"),
             QVariantMap{{QStringLiteral("a@example.com"), QVariant::fromValue<quint16>(40022)}}},
            {QStringLiteral("KCDaemonStatusSettings"),
             QVariantMap{{QStringLiteral("KCDaemonSettingsUseSSH"), true},
                         {QStringLiteral("KCDaemonSettingsManualMode"), qint64(2)}}}};
}

QVariantMap KCRecordingOperations::getSettings()
{
    calls.append(QStringLiteral("getSettings"));
    return status();
}

QString KCRecordingOperations::getVersion()
{
    calls.append(QStringLiteral("getVersion"));
    return QStringLiteral("3.9.0");
}

KCDaemonHelperToolOperations::AccountReply KCRecordingOperations::addKovraConnectAccount(const QString &account,
                                                                                        const QString &)
{
    calls.append(QStringLiteral("addKovraConnectAccount"));
    return {true, account};
}

KCDaemonHelperToolOperations::AccountReply KCRecordingOperations::removeKovraConnectAccount(const QString &account)
{
    calls.append(QStringLiteral("removeKovraConnectAccount"));
    return {true, account};
}

KCDaemonHelperToolOperations::StatusReply KCRecordingOperations::queryPortMappingStatus()
{
    calls.append(QStringLiteral("queryPortMappingStatus"));
    return {true, status()};
}

bool KCRecordingOperations::userSettingsChanged(const QVariantMap &settings)
{
    calls.append(QStringLiteral("userSettingsChanged"));
    lastSettings = settings;
    return true;
}

bool KCRecordingOperations::uninstall()
{
    calls.append(QStringLiteral("uninstall"));
    return true;
}

KCTestDaemonOnBus::KCTestDaemonOnBus(KCDaemonCallerCheck::Limits limits)
    : _limits(limits)
{
}

bool KCTestDaemonOnBus::start(bool withPolkit, QString *error)
{
    if (!bus.start()) {
        *error = bus.error();
        return false;
    }
    if (withPolkit) {
        polkit = bus.startFakePolkit();
        if (!polkit) {
            *error = QStringLiteral("the fake polkit did not start");
            return false;
        }
    }
    connection = bus.connect();
    authority = std::make_unique<KCDBusPolkitAuthority>(connection);
    listener = std::make_unique<KCDaemonHelperToolListener>(connection, *authority, _limits);
    return listener->listen(operations, error);
}

std::unique_ptr<KCChildProcess> KCTestDaemonOnBus::startClient(const QStringList &arguments,
                                                               const std::optional<KCTestUser> &user)
{
    return bus.startProgram(KCPrivateSystemBus::fakeProgram(QStringLiteral("kc_test_bus_client")), arguments, user);
}

QString KCTestDaemonOnBus::callOnce(const QStringList &arguments, const std::optional<KCTestUser> &user)
{
    const auto client = startClient(arguments, user);
    if (!client)
        return QStringLiteral("client did not start");
    const std::optional<QString> answer = client->waitForLine(QStringLiteral(" 1 "));
    return answer ? *answer : QStringLiteral("no answer: ") + client->lines().join(QLatin1Char('|'));
}
