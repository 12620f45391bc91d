#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// How the fake gateway behaves, from its command line. Everything a lab test scripts is here.
struct KCFakeIGDOptions {
    QHostAddress listenAddress;
    quint16 httpPort = 0;
    // The LOCATION sent in discovery answers; empty means this device's own description URL.
    QString location;
    // Answered by GetExternalIPAddress as given, even when it is empty or not an address.
    QString externalIPAddress;
    // A UPnP error code GetExternalIPAddress answers with instead; 0 for none.
    int externalIPAddressError = 0;
    QString connectionStatus;
    // Answers to successive AddPortMapping calls (0 accepts); then addDefault for every later one.
    QList<int> addReplies;
    int addDefault = 0;
    // "normal", "not-igd", "huge", "deep", "external-entity", "entity-bomb", "malformed",
    // "empty" or "file:PATH".
    QString description;
    QString manufacturer;
    QString modelName;
    QString modelNumber;
    QString pidFile;
    QString mappingsFile;

    // Parses the arguments (without the program name); on failure returns nothing and sets error.
    static std::optional<KCFakeIGDOptions> parse(const QStringList &arguments, QString *error);
    // "718*3,0,606" is 718, 718, 718, 0, 606.
    static std::optional<QList<int>> parseReplies(const QString &text);
};
