#pragma once

#include <QObject>
#include <QString>

#include <optional>

// The host-name service of the system bus (systemd-hostnamed), as far as the computer name
// needs it.
class KCHostnamed : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The pretty host name: none when the service is not there or does not answer, empty when it
    // is there but no pretty name is set.
    virtual std::optional<QString> prettyHostname() = 0;

Q_SIGNALS:
    // The service announced a new pretty host name.
    void prettyHostnameChanged();
};
