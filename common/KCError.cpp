#include "KCError.h"

KCError KCError::withFailureReason(const QString &domain, qint64 code, const QString &failureReason)
{
    return KCError{domain, code, {{KCErrorFailureReasonKey, failureReason}}};
}

QString KCError::failureReason() const
{
    return userInfo.value(KCErrorFailureReasonKey).toString();
}

QString KCError::localizedDescription() const
{
    const QString description = userInfo.value(KCErrorDescriptionKey).toString();
    if (!description.isEmpty())
        return description;
    QString text = QStringLiteral("The operation couldn\u2019t be completed. (%1 error %2.)").arg(domain).arg(code);
    const QString reason = failureReason();
    if (!reason.isEmpty())
        text += QLatin1Char(' ') + reason;
    return text;
}
