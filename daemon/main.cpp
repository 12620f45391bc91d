#include "KCBuildInfo.h"
#include "KCDaemonApplicationMain.h"
#include "KCDaemonConfiguration.h"
#include "KCDaemonJournalClientCallbacks.h"
#include "KCDaemonSystemInformation.h"
#include "KCDaemonRouterPortMapperFactory.h"
#include "KCFileKeychain.h"
#include "KCHTTPUtils.h"
#include "KCJsonDefaultsStore.h"
#include "KCLinuxDynamicStore.h"
#include "KCLinuxHardwareIdentity.h"
#include "KCLog.h"
#include "KCSystemdServiceManager.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>

#include <cstdio>
#include <sys/prctl.h>

namespace {

// Usage mistakes and malformed configuration end the process with this status before anything
// is written.
constexpr int UsageExitStatus = 2;

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

    KCJsonDefaultsStore store(configuration->stateDirectory(), KCDaemonLabel);
    KCFileKeychain keychain(configuration->stateDirectory());
    KCLinuxHardwareIdentity hardwareIdentity;
    KCSystemdServiceManager serviceManager(QDBusConnection::systemBus());
    // The mappers read the default gateway from a configuration store of their own, so the one
    // that notifies the daemon of changes never waits on them.
    const std::unique_ptr<KCDynamicStore> gatewayConfiguration = KCLinuxDynamicStore::createSystemStore();
    const auto portMapperFactory = KCDaemonRouterPortMapperFactory::createSystemFactory(*gatewayConfiguration, store);
    KCDaemonJournalClientCallbacks client;

    KCDaemonEnvironment environment;
    environment.configuration = *configuration;
    environment.store = &store;
    environment.keychain = &keychain;
    environment.hardwareIdentity = &hardwareIdentity;
    environment.timerSource = &KCTimerSource::system();
    environment.serviceManager = &serviceManager;
    environment.portMapperFactory = portMapperFactory.get();
    environment.client = &client;
    environment.createSystemInformation = [](KCDaemonSystemInformationDelegate *delegate) {
        return KCDaemonSystemInformation::initWithDelegate(delegate);
    };

    {
        KCDaemonApplicationMain daemon(environment);
        daemon.main();
    }
    return 0;
}
