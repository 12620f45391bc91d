#pragma once

#include <QString>
#include <QVariantMap>

// An error as it crosses the bus and reaches the user: a domain, a code and a dictionary of
// details, the failure reason under KCErrorFailureReasonKey.
inline const QString KCErrorFailureReasonKey = QStringLiteral("NSLocalizedFailureReason");
inline const QString KCErrorDescriptionKey = QStringLiteral("NSLocalizedDescription");

// Domains used by this system.
inline const QString KCDaemonErrorDomain = QStringLiteral("com.fendrel.kovra.connect.daemon");
inline const QString KCURLErrorDomain = QStringLiteral("NSURLErrorDomain");
inline const QString KCJSONErrorDomain = QStringLiteral("NSCocoaErrorDomain");

struct KCError {
    QString domain;
    qint64 code = 0;
    QVariantMap userInfo;

    static KCError withFailureReason(const QString &domain, qint64 code, const QString &failureReason);

    QString failureReason() const;
    // The one-line text a log or a user sees: the description if there is one, else a text built
    // from the domain, the code and the failure reason.
    QString localizedDescription() const;

    friend bool operator==(const KCError &, const KCError &) = default;
};
