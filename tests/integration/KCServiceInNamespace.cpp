#include "KCServiceInNamespace.h"

#include <QFile>
#include <QJsonDocument>
#include <QTest>

KCServiceInNamespace::KCServiceInNamespace(const KCTestNetworkNamespace &ns, const QString &requestLog, const QStringList &options)
    : m_requestLog(requestLog)
{
    m_process.start(QStringLiteral("ip"), QStringList{QStringLiteral("netns"), QStringLiteral("exec"), ns.name(), QStringLiteral(KC_FAKE_ACCOUNT_SERVICE)}
                                              + options + QStringList{QStringLiteral("--log"), requestLog});
    // The service prints its base URL once it listens.
    if (m_process.waitForStarted(30000) && m_process.waitForReadyRead(30000))
        m_baseURL = QString::fromUtf8(m_process.readLine()).trimmed();
}

KCServiceInNamespace::~KCServiceInNamespace()
{
    m_process.kill();
    m_process.waitForFinished(30000);
}

QList<QJsonObject> KCServiceInNamespace::requests(const QString &endpoint) const
{
    QList<QJsonObject> found;
    QFile file(m_requestLog);
    if (!file.open(QIODevice::ReadOnly))
        return found;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const QJsonObject request = QJsonDocument::fromJson(line).object();
        if (endpoint.isEmpty() || request.value(QStringLiteral("path")).toString().endsWith(endpoint))
            found.append(request);
    }
    return found;
}

bool KCServiceInNamespace::waitForRequests(const QString &endpoint, qsizetype count, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return requests(endpoint).size() >= count; }, timeoutMs);
}

QString KCServiceInNamespace::field(const QJsonObject &request, const QString &name)
{
    return request.value(QStringLiteral("form")).toObject().value(name).toString();
}
