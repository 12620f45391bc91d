#include "KCDaemonOrchestrationSupport.h"

#include "KCHTTPUtils.h"
#include "KCPropertyListDescription.h"

#include <QTest>

void KCDaemonFixture::SetUp()
{
    ASSERT_TRUE(service.listen());
    KCHTTPUtils::setAccountServiceBaseURL(service.baseURL());
}

void KCDaemonFixture::TearDown()
{
    daemon.reset();
    KCHTTPUtils::setAccountServiceBaseURL(QString());
}

void KCDaemonFixture::startWith(const QList<std::pair<QString, QString>> &accounts)
{
    for (const auto &[account, password] : accounts)
        addAccount(account, password);
    daemon = start();
}

void KCDaemonFixture::mapEveryAccount(uint16_t externalPort, const QString &address)
{
    QStringList accounts;
    for (const auto &[account, record] : daemon->kcServices())
        accounts.append(account);
    for (const QString &account : accounts) {
        if (KCFakePortMapper *mapper = mapperFor(*daemon, account))
            mapper->report(0, externalPort, address);
    }
}

bool KCDaemonFixture::waitFor(const std::function<bool()> &condition)
{
    return QTest::qWaitFor(condition, 20000);
}

bool KCDaemonFixture::waitForRequestsTo(const QString &endpoint, qsizetype count)
{
    return waitFor([&] { return service.requests(endpoint).size() >= count; });
}

bool KCDaemonFixture::waitForUpdateAnswers(int count)
{
    return waitFor([&] {
        return client.eventCount(QStringLiteral("Update sent: ")) + client.eventCount(QStringLiteral("Failed to send update to server.")) >= count;
    });
}

QStringList KCDaemonFixture::everythingSaid() const
{
    QStringList said = log.lines() + client.events;
    for (const auto &[account, error] : client.accountErrors)
        said << account << error.localizedDescription() << KCPropertyListDescription::describe(error.userInfo);
    for (const auto &[error, response] : client.updateErrors)
        said << error.localizedDescription() << KCPropertyListDescription::describe(error.userInfo) << KCPropertyListDescription::describe(response);
    for (const QVariantMap &status : client.statuses)
        said << KCPropertyListDescription::describe(status);
    return said;
}
