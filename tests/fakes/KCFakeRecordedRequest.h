#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

// One request as the fake account service received it.
struct KCFakeRecordedRequest {
    using Field = std::pair<QString, QString>;

    QString method;
    QString path; // the whole URL path, "/app/6.0/computer/update.php"
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // The body decoded as an HTML form, in body order: "+" as a space, then percent-decoded.
    QList<Field> fields;

    // The first header of that name, whatever its case.
    QByteArray header(const QByteArray &name) const;
    // The first plain field "name=...".
    QString field(const QString &name) const;
    bool hasField(const QString &name) const;
    // The values of the "name[]=..." fields, in order.
    QStringList arrayField(const QString &name) const;
    // The "name[key]=..." fields as key and value, in order.
    QList<Field> dictionaryField(const QString &name) const;

    // A JSON object: method, path, headers (pairs), body (text), fields (pairs) and form (plain
    // fields as strings, "a[]" fields as arrays, "a[k]" fields as objects).
    QJsonObject toJson() const;

    static QList<Field> decodeForm(const QByteArray &body);
};
