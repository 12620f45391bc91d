#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>

// Reading UPnP control requests and writing their answers and faults.
class KCFakeIGDSOAP {
public:
    struct Call {
        QString action;
        QHash<QString, QString> arguments;
    };
    using Values = QList<QPair<QString, QString>>;

    // The action element inside the envelope's Body and its argument elements.
    static std::optional<Call> parseCall(const QByteArray &body);
    static QByteArray response(const QString &serviceType, const QString &action, const Values &values);
    static QByteArray fault(int errorCode);
    static QString errorDescription(int errorCode);
};
