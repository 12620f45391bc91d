#include "KCFakeResponse.h"

#include <QJsonDocument>
#include <QJsonArray>
#include <QJsonValue>
#include <algorithm>

namespace {

// Any JSON value as text: QJsonDocument writes only objects and arrays, so a scalar is written as
// the only element of an array and the brackets are taken off.
QByteArray compactJson(const QJsonValue &value)
{
    if (value.isObject())
        return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    if (value.isArray())
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    return QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).chopped(1).mid(1);
}

} // namespace

KCFakeResponse KCFakeResponse::json(const QByteArray &body, int status)
{
    KCFakeResponse response;
    response.body = body;
    response.status = status;
    return response;
}

KCFakeResponse KCFakeResponse::withContentType(const QByteArray &body, const QByteArray &contentType, int status)
{
    KCFakeResponse response = json(body, status);
    response.contentType = contentType;
    return response;
}

KCFakeResponse KCFakeResponse::withFault(Fault fault, const QByteArray &body)
{
    KCFakeResponse response = json(body);
    response.fault = fault;
    return response;
}

KCFakeResponse KCFakeResponse::accountStatuses(int status)
{
    KCFakeResponse response;
    response.everyAccountStatus = status;
    return response;
}

std::optional<KCFakeResponse> KCFakeResponse::fromJson(const QJsonObject &object, QString *error)
{
    static const QStringList known = {QStringLiteral("status"), QStringLiteral("body"), QStringLiteral("json"),
                                      QStringLiteral("contentType"), QStringLiteral("headers"), QStringLiteral("delayMs"), QStringLiteral("fault"),
                                      QStringLiteral("contentLength"), QStringLiteral("trickleIntervalMs"),
                                      QStringLiteral("accountStatus")};
    for (const QString &key : object.keys()) {
        if (!known.contains(key)) {
            *error = QStringLiteral("unknown key \"%1\"").arg(key);
            return std::nullopt;
        }
    }

    KCFakeResponse response;
    response.status = object.value(QStringLiteral("status")).toInt(200);
    if (object.contains(QStringLiteral("json")))
        response.body = compactJson(object.value(QStringLiteral("json")));
    else
        response.body = object.value(QStringLiteral("body")).toString().toUtf8();
    if (object.contains(QStringLiteral("contentType")))
        response.contentType = object.value(QStringLiteral("contentType")).toString().toUtf8();
    const QJsonObject headers = object.value(QStringLiteral("headers")).toObject();
    for (auto it = headers.begin(); it != headers.end(); ++it)
        response.headers.append({it.key().toUtf8(), it.value().toString().toUtf8()});
    response.delay = std::chrono::milliseconds(object.value(QStringLiteral("delayMs")).toInt(0));
    response.sendContentLength = object.value(QStringLiteral("contentLength")).toBool(true);
    response.trickleInterval = std::chrono::milliseconds(object.value(QStringLiteral("trickleIntervalMs")).toInt(50));
    if (object.contains(QStringLiteral("accountStatus")))
        response.everyAccountStatus = object.value(QStringLiteral("accountStatus")).toInt();

    const QString fault = object.value(QStringLiteral("fault")).toString(QStringLiteral("none"));
    static const QList<std::pair<QString, Fault>> faults = {
        {QStringLiteral("none"), Fault::None},
        {QStringLiteral("close"), Fault::CloseWithoutAnswer},
        {QStringLiteral("close-mid-body"), Fault::CloseMidBody},
        {QStringLiteral("never-answer"), Fault::NeverAnswer},
        {QStringLiteral("trickle"), Fault::Trickle},
    };
    const auto match = std::find_if(faults.cbegin(), faults.cend(), [&](const auto &entry) { return entry.first == fault; });
    if (match == faults.cend()) {
        *error = QStringLiteral("unknown fault \"%1\"").arg(fault);
        return std::nullopt;
    }
    response.fault = match->second;
    return response;
}

QByteArray KCFakeResponse::bodyFor(const KCFakeRecordedRequest &request) const
{
    if (!everyAccountStatus)
        return body;
    QStringList accounts = request.arrayField(QStringLiteral("kovraID"));
    if (request.hasField(QStringLiteral("kovraID")))
        accounts.append(request.field(QStringLiteral("kovraID")));
    QJsonObject answer;
    for (const QString &account : accounts)
        answer.insert(account, *everyAccountStatus);
    return QJsonDocument(answer).toJson(QJsonDocument::Compact);
}

QByteArray KCFakeResponse::headBlock(const QByteArray &replyBody) const
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " Scripted\r\n";
    head += "Content-Type: " + contentType + "\r\n";
    for (const auto &[name, value] : headers)
        head += name + ": " + value + "\r\n";
    if (sendContentLength)
        head += "Content-Length: " + QByteArray::number(replyBody.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    return head;
}
