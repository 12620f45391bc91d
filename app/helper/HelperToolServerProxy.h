#pragma once

#include "KCError.h"

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

class HelperToolConnection;
class HelperToolSession;

// The daemon's methods (com.fendrel.kovra.connect.HelperToolServer), called without blocking.
// A reply handler runs on the main thread when the daemon answered, also after the request's
// time-out; when the call fails instead (the daemon is gone or not running, it refused the
// caller, the connection broke) the proxy's error handler runs and the reply handler does not.
// A proxy belongs to the connection it was made on: once that is forgotten, its calls fail.
class HelperToolServerProxy {
public:
    using ErrorHandler = std::function<void(const KCError &error)>;

    void getSettings(std::function<void(const QVariantMap &status)> reply) const;
    void getVersion(std::function<void(const QString &version)> reply) const;
    void addKovraConnectAccount(const QString &account, const QString &password,
                                std::function<void(bool success, const QString &account)> reply) const;
    void removeKovraConnectAccount(const QString &account,
                                   std::function<void(bool success, const QString &account)> reply) const;
    void queryPortMappingStatus(std::function<void(bool success, const QVariantMap &status)> reply) const;
    void userSettingsChanged(const QVariantMap &settings, std::function<void(bool success)> reply) const;
    void uninstall(std::function<void(bool success)> reply) const;

private:
    friend class HelperToolConnection;
    HelperToolServerProxy(std::weak_ptr<HelperToolSession> session, bool interactive, KCError unavailable,
                          ErrorHandler errorHandler);

    void call(const QString &method, const QVariantList &arguments, std::function<void(const QVariantList &)> reply) const;

    std::weak_ptr<HelperToolSession> _session;
    bool _interactive = false;
    // What a call reports when the connection it was made on is gone or never opened.
    KCError _unavailable;
    ErrorHandler _errorHandler;
};
