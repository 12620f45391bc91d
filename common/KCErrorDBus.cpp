#include "KCErrorDBus.h"

#include "KCDBusValue.h"

#include <QDBusMetaType>

#include <algorithm>
#include <limits>

QDBusArgument &operator<<(QDBusArgument &argument, const KCError &error)
{
    const qint64 code = std::clamp<qint64>(error.code, std::numeric_limits<qint32>::min(),
                                           std::numeric_limits<qint32>::max());
    argument.beginStructure();
    argument << error.domain << static_cast<qint32>(code) << KCDBusValue::toDBus(error.userInfo);
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, KCError &error)
{
    qint32 code = 0;
    QVariantMap userInfo;
    argument.beginStructure();
    argument >> error.domain >> code >> userInfo;
    argument.endStructure();
    error.code = code;
    error.userInfo = KCDBusValue::fromDBus(userInfo);
    return argument;
}

void KCRegisterErrorDBusType()
{
    qDBusRegisterMetaType<KCError>();
}
