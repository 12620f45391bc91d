#include "HelperToolCallbackReceiver.h"

#include "HelpetToolClientAdaptor.h"
#include "KCDBusValue.h"

HelperToolCallbackReceiver::HelperToolCallbackReceiver(Handlers handlers, QObject *parent)
    : QObject(parent)
    , _handlers(std::move(handlers))
{
    new HelpetToolClientAdaptor(this);
}

void HelperToolCallbackReceiver::portMappingStatusChanged(const QVariantMap &status)
{
    _handlers.portMappingStatusChanged(KCDBusValue::fromDBus(status));
}

void HelperToolCallbackReceiver::kovraIdError(const QString &account, const KCError &error)
{
    _handlers.kovraIdError(account, error);
}

void HelperToolCallbackReceiver::updateError(const KCError &error, const QVariantMap &response)
{
    _handlers.updateError(error, KCDBusValue::fromDBus(response));
}

void HelperToolCallbackReceiver::logServiceEvent(const QString &message)
{
    _handlers.logServiceEvent(message);
}
