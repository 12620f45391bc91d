#pragma once

#include "KCTestNetworkNamespace.h"

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

// The fake account service (tests/fakes) run inside a network namespace of the test's own, on
// that namespace's 127.0.0.1, logging every request it receives to a file the test reads.
class KCServiceInNamespace {
public:
    // options are the service's own (--https CERT KEY, --script FILE); the log goes to requestLog.
    KCServiceInNamespace(const KCTestNetworkNamespace &ns, const QString &requestLog, const QStringList &options = {});
    ~KCServiceInNamespace();
    KCServiceInNamespace(const KCServiceInNamespace &) = delete;
    KCServiceInNamespace &operator=(const KCServiceInNamespace &) = delete;

    // Empty when the service did not come up.
    QString baseURL() const { return m_baseURL; }

    // Every request received so far, oldest first; only those to the endpoint
    // ("/computer/update.php") when one is given.
    QList<QJsonObject> requests(const QString &endpoint = QString()) const;
    // Runs the event loop until that many requests to the endpoint have arrived; false at the deadline.
    bool waitForRequests(const QString &endpoint, qsizetype count, int timeoutMs = 30000) const;
    // A plain form field of a logged request.
    static QString field(const QJsonObject &request, const QString &name);

private:
    QProcess m_process;
    QString m_requestLog;
    QString m_baseURL;
};
