#include "KCBuildInfo.h"
#include "KCDaemonApplicationMain.h"
#include "KCDBusPolkitAuthority.h"
#include "KCDaemonConfiguration.h"
#include "KCDaemonHelperToolListener.h"
#include "KCDaemonHelperToolService.h"
#include "KCDaemonSystemInformation.h"
#include "KCDaemonRouterPortMapperFactory.h"
#include "KCFileKeychain.h"
#include "KCHTTPUtils.h"
#include "KCJsonDefaultsStore.h"
#include "KCLinuxDynamicStore.h"
#include "KCLinuxHardwareIdentity.h"
#include "KCLog.h"
#include "KCLogindSystemPower.h"
#include "KCSystemdServiceManager.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>

#include <cstdio>
#include <sys/prctl.h>

namespace {

// Usage mistakes and malformed configuration end the process with this status before anything
// is written.
constexpr int UsageExitStatus = 2;
// So does a system bus on which the daemon cannot be reached.
constexpr int UnreachableExitStatus = KCDaemonApplicationMain::ListenFailureExitStatus;

void printLine(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
}

} // namespace

int main(int argc, char **argv)
{
    // The daemon holds account passwords in memory: no core dumps and no tracing by other users.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);

    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(KCDaemonLabel);
    QCoreApplication::setApplicationVersion(KCDaemonVersion);
    KCLog::installSystemLogHandler();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Kovra Connect daemon: keeps this machine reachable through the home router."));
    const QCommandLineOption configOption(QStringLiteral("config"),
                                          QStringLiteral("Read the configuration from FILE instead of %1.").arg(KCDefaultConfigurationFile),
                                          QStringLiteral("FILE"));
    const QCommandLineOption versionOption(QStringLiteral("version"), QStringLiteral("Print the version and exit."));
    const QCommandLineOption helpOption(QStringLiteral("help"), QStringLiteral("Print this help and exit."));
    parser.addOptions({configOption, versionOption, helpOption});
    if (!parser.parse(QCoreApplication::arguments()) || !parser.positionalArguments().isEmpty()) {
        const QString error = parser.errorText().isEmpty() ? QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().join(QLatin1Char(' ')))
                                                           : parser.errorText();
        printLine(stderr, error);
        printLine(stderr, QStringLiteral("Try --help."));
        return UsageExitStatus;
    }
    if (parser.isSet(helpOption)) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        printLine(stdout, KCDaemonVersion);
        return 0;
    }

    const bool configGiven = parser.isSet(configOption);
    QString error;
    QStringList warnings;
    const auto configuration = KCDaemonConfiguration::load(configGiven ? parser.value(configOption) : KCDefaultConfigurationFile,
                                                           configGiven, &error, &warnings);
    for (const QString &warning : std::as_const(warnings))
        printLine(stderr, warning);
    if (!configuration) {
        printLine(stderr, error);
        return UsageExitStatus;
    }

    KCHTTPUtils::setAccountServiceBaseURL(configuration->baseURL().toString());
    if (const auto caError = KCHTTPUtils::setAdditionalCertificateAuthorityFile(configuration->caFile())) {
        printLine(stderr, QStringLiteral("Cannot use the certificate authority file %1: %2")
                              .arg(configuration->caFile(), caError->localizedDescription()));
        return UsageExitStatus;
    }

    // Clients reach the daemon only on the system bus, and a second daemon would fight the first
    // over the router's mappings: both end the process before anything is started. (Two started
    // at the same moment are told apart later, when one of them fails to take the name.)
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        printLine(stderr, QStringLiteral("Cannot connect to the system bus: %1").arg(bus.lastError().message()));
        return UnreachableExitStatus;
    }
    const QDBusReply<bool> nameTaken = bus.interface()->isServiceRegistered(KCDaemonHelperToolService::ServiceName);
    if (nameTaken.isValid() && nameTaken.value()) {
        printLine(stderr, QStringLiteral("Another process already owns %1 on the system bus: is the daemon running already?")
                              .arg(KCDaemonHelperToolService::ServiceName));
        return UnreachableExitStatus;
    }

    KCJsonDefaultsStore store(configuration->stateDirectory(), KCDaemonLabel);
    KCFileKeychain keychain(configuration->stateDirectory());
    KCLinuxHardwareIdentity hardwareIdentity;
    KCSystemdServiceManager serviceManager(bus);
    // The mappers read the default gateway from a configuration store of their own, so the one
    // that notifies the daemon of changes never waits on them.
    const std::unique_ptr<KCDynamicStore> gatewayConfiguration = KCLinuxDynamicStore::createSystemStore();
    const auto portMapperFactory = KCDaemonRouterPortMapperFactory::createSystemFactory(*gatewayConfiguration, store);
    KCDBusPolkitAuthority polkit(bus);
    KCDaemonHelperToolListener listener(bus, polkit);
    KCLogindSystemPower power(bus);

    KCDaemonEnvironment environment;
    environment.configuration = *configuration;
    environment.store = &store;
    environment.keychain = &keychain;
    environment.hardwareIdentity = &hardwareIdentity;
    environment.timerSource = &KCTimerSource::system();
    environment.serviceManager = &serviceManager;
    environment.portMapperFactory = portMapperFactory.get();
    environment.client = &listener.client();
    environment.listener = &listener;
    environment.power = &power;
    environment.createSystemInformation = [](KCDaemonSystemInformationDelegate *delegate) {
        return KCDaemonSystemInformation::initWithDelegate(delegate);
    };

    KCDaemonApplicationMain daemon(environment);
    return daemon.main();
}
