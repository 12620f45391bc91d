#pragma once

#include "KCDaemonPortMapper.h"

#include <QList>
#include <QString>
#include <QVariantMap>

#include <functional>

class KCFakePortMapperFactory;

// A mapper the test drives: it records what the daemon asks of it, and report() delivers a result
// as the router's answer would, straight to the delegate.
class KCFakePortMapper final : public KCDaemonPortMapper {
public:
    KCFakePortMapper(KCDaemonPortMapperDelegate *delegate, KCFakePortMapperFactory *factory, const QString &backend);
    ~KCFakePortMapper() override;

    void tryMappingPort(uint16_t port) override;
    void close() override;
    void collectUPNPIGDDiscoveryDiagnosticsWithCompletion(std::function<void(const QVariantMap &)> completion) override;

    uint16_t internalPort() const override { return _internalPort; }
    uint16_t externalPort() const override { return _externalPort; }
    uint32_t externalAddress() const override { return _externalAddress; }
    uint32_t ttl() const override { return _ttl; }
    bool isWorking() const override { return _working; }
    QString portMappingBackendName() const override { return backend; }
    QVariantMap upnpIGDDiscoveryDiagnostics() const override { return diagnostics; }

    // Ends the attempt with this result; address is dotted text ("" for none).
    void report(int32_t result, uint16_t externalPort, const QString &address, uint32_t ttl = 7200, uint32_t interfaceIndex = 2);
    // Answers every collection asked for so far.
    void finishCollections(const QVariantMap &found);

    QString backend;
    QVariantMap diagnostics;
    QList<uint16_t> attempts;
    int closeCount = 0;
    int collectionsAsked = 0;

private:
    KCDaemonPortMapperDelegate *_delegate;
    KCFakePortMapperFactory *_factory;
    uint16_t _internalPort = 0;
    uint16_t _externalPort = 0;
    uint32_t _externalAddress = 0;
    uint32_t _ttl = 0;
    bool _working = false;
    QList<std::function<void(const QVariantMap &)>> _collections;
};

// Makes fake mappers and keeps track of those still alive, oldest first.
class KCFakePortMapperFactory final : public KCDaemonPortMapperFactory {
public:
    std::unique_ptr<KCDaemonPortMapper> createPortMapper(KCDaemonPortMapperDelegate *delegate) override;

    // The backend name new mappers report.
    QString backend = QStringLiteral("natpmp-pcp");
    QList<KCFakePortMapper *> live;
    int createdCount = 0;
    int destroyedCount = 0;
};
