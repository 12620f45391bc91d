#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QVariantList>

#include <map>
#include <vector>

// polkit's authority as a test scripts it. Each check is answered by the rule for its action and
// its caller's uid (the most specific rule wins; without one: deny): allow, deny, challenge, error
// or never, after a delay. Every check is recorded and announced on standard output:
//   request ACTION UID BUSNAME interactive|plain
//   cancelled ACTION UID
// The test interface com.fendrel.kovra.connect.test.FakePolkit at the authority's path:
//   SetAnswer(s action, i uid, s verdict, u delayMs)   "" and -1 match any action and any uid
//   Requests() -> av of a{sv}                           action, busName, uid, interactive, cancelled
class KCFakePolkitAuthority final : public QDBusVirtualObject {
    Q_OBJECT
public:
    explicit KCFakePolkitAuthority(QDBusConnection bus);

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

private:
    struct Rule {
        QString verdict = QStringLiteral("deny");
        uint delayMs = 0;
    };
    struct Request {
        QString action;
        QString busName;
        qint64 uid = -1;
        bool interactive = false;
        bool cancelled = false;
        bool answered = false;
        QString sender;
        QString cancellationId;
        QDBusMessage call;
    };

    void checkAuthorization(const QDBusMessage &message);
    void cancelCheckAuthorization(const QDBusMessage &message);
    void answer(size_t request, const QString &verdict);
    Rule ruleFor(const QString &action, qint64 uid) const;

    QDBusConnection _bus;
    std::map<std::pair<QString, qint64>, Rule> _rules;
    std::vector<Request> _requests;
};
