#pragma once

#include "KCErrorDBus.h"

#include <QObject>
#include <QVariantMap>

#include <functional>

// The object the daemon calls back (the parent of the adaptor generated from the call-backs'
// introspection): it unpacks what arrived into plain values and hands it on.
class HelperToolCallbackReceiver final : public QObject {
    Q_OBJECT
public:
    struct Handlers {
        std::function<void(const QVariantMap &)> portMappingStatusChanged;
        std::function<void(const QString &, const KCError &)> kovraIdError;
        std::function<void(const KCError &, const QVariantMap &)> updateError;
        std::function<void(const QString &)> logServiceEvent;
    };

    explicit HelperToolCallbackReceiver(Handlers handlers, QObject *parent = nullptr);

    // Called by the adaptor.
    void portMappingStatusChanged(const QVariantMap &status);
    void kovraIdError(const QString &account, const KCError &error);
    void updateError(const KCError &error, const QVariantMap &response);
    void logServiceEvent(const QString &message);

private:
    Handlers _handlers;
};
