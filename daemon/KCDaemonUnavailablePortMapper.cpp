#include "KCDaemonUnavailablePortMapper.h"

#include "KCDNSServiceError.h"
#include "KCLog.h"

#include <QCoreApplication>

namespace {

class KCDaemonUnavailablePortMapper final : public KCDaemonPortMapper {
public:
    explicit KCDaemonUnavailablePortMapper(KCDaemonPortMapperDelegate *delegate)
        : _delegate(delegate)
        , _alive(std::make_shared<bool>(true))
    {
    }
    ~KCDaemonUnavailablePortMapper() override { *_alive = false; }

    void tryMappingPort(uint16_t port) override
    {
        _internalPort = port;
        _working = true;
        const quint64 attempt = ++_attempt;
        qCWarning(lcKC).noquote() << QStringLiteral("port mapping is not available in this build");
        // Results never arrive inside the call that asked for them, as with a real router.
        later([this, attempt] {
            if (attempt != _attempt || !_working)
                return;
            _working = false;
            _delegate->portMapping(this, KCDNSServiceError::ServiceNotRunning, 0, 0, 0, 0);
        });
    }
    void close() override { _working = false; }
    void collectUPNPIGDDiscoveryDiagnosticsWithCompletion(std::function<void(const QVariantMap &)> completion) override
    {
        later([completion = std::move(completion)] { completion({}); });
    }

    uint16_t internalPort() const override { return _internalPort; }
    uint16_t externalPort() const override { return 0; }
    uint32_t externalAddress() const override { return 0; }
    uint32_t ttl() const override { return 0; }
    bool isWorking() const override { return _working; }
    // The path every mapper tries first, and the one that reports the service as not running.
    QString portMappingBackendName() const override { return QStringLiteral("natpmp-pcp"); }
    QVariantMap upnpIGDDiscoveryDiagnostics() const override { return {}; }

private:
    void later(std::function<void()> work)
    {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [alive = _alive, work = std::move(work)] {
                if (*alive)
                    work();
            },
            Qt::QueuedConnection);
    }

    KCDaemonPortMapperDelegate *_delegate;
    std::shared_ptr<bool> _alive;
    uint16_t _internalPort = 0;
    quint64 _attempt = 0;
    bool _working = false;
};

} // namespace

std::unique_ptr<KCDaemonPortMapper> KCDaemonUnavailablePortMapperFactory::createPortMapper(KCDaemonPortMapperDelegate *delegate)
{
    return std::make_unique<KCDaemonUnavailablePortMapper>(delegate);
}
