#include "KCDaemonTestBed.h"

#include "KCDaemonKeychainAccess.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace {

const QByteArray EthernetAddress = QByteArray::fromHex("001a2b3c4d5e");

} // namespace

KCDaemonTestBed::KCDaemonTestBed()
{
    sources.addInterface(QStringLiteral("eth0"), QStringLiteral("192.168.1.23"), EthernetAddress);
    sources.addDevice(QStringLiteral("eth0"), 2, true, false, EthernetAddress);
    sources.defaultRoute = globalIPv4;
    sources.kernelHostName = QStringLiteral("office");

    QDir().mkpath(root.path() + QStringLiteral("/etc"));
    QFile osRelease(root.path() + QStringLiteral("/etc/os-release"));
    if (osRelease.open(QIODevice::WriteOnly))
        osRelease.write("PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\nID=debian\n");
}

KCDaemonEnvironment KCDaemonTestBed::environment()
{
    KCDaemonEnvironment env;
    env.store = &store;
    env.keychain = &keychain;
    env.hardwareIdentity = &hardware;
    env.timerSource = &timers;
    env.serviceManager = &serviceManager;
    env.portMapperFactory = &mappers;
    env.client = &client;
    env.listener = &listener;
    env.power = &power;
    env.fileSystemRoot = root.path();
    env.accountServiceTransferTimeout = transferTimeout;
    env.createSystemInformation = [this](KCDaemonSystemInformationDelegate *delegate) {
        auto configurationStore = std::make_unique<KCFakeDynamicStore>();
        configurationStore->setComputerName(computerName);
        configurationStore->setLocalHostName(localHostName);
        configurationStore->setGlobalIPv4State(globalIPv4);
        dynamicStore = configurationStore.get();
        return std::make_unique<KCDaemonSystemInformation>(delegate, std::move(configurationStore), sources.sources());
    };
    return env;
}

void KCDaemonTestBed::addAccount(const QString &account, const QString &password)
{
    ASSERT_TRUE(KCDaemonKeychainAccessAddAccount(keychain, store, account, password));
}

KCFakePortMapper *KCDaemonTestBed::mapperFor(KCDaemonApplicationMain &daemon, const QString &account)
{
    const auto found = daemon.kcServices().find(account);
    if (found == daemon.kcServices().end())
        return nullptr;
    return static_cast<KCFakePortMapper *>(found->second.portMapper());
}

void KCDaemonTestBed::moveToRouter(const QString &router, const QString &localAddress, const QString &interfaceName)
{
    sources.interfaceAddressList.clear();
    sources.addInterface(interfaceName, localAddress, EthernetAddress);
    globalIPv4 = KCGlobalIPv4State{router, interfaceName, 2};
    sources.defaultRoute = globalIPv4;
    dynamicStore->setGlobalIPv4State(globalIPv4);
    dynamicStore->notify(KCDynamicStoreKey::GlobalIPv4);
}

void KCDaemonTestBed::processQueuedCalls()
{
    QCoreApplication::processEvents();
}
