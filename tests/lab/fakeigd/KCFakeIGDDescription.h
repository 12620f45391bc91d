#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

struct KCFakeIGDOptions;

// The root description document the fake gateway serves, honest or hostile, and the device and
// service types it answers discovery for.
class KCFakeIGDDescription {
public:
    static const QString kWANIPConnection;
    static const QString kWANCommonInterfaceConfig;
    static const QString kIPConnectionControlPath;
    static const QString kCommonInterfaceControlPath;

    explicit KCFakeIGDDescription(const KCFakeIGDOptions &options);

    // The body served for the description URL; empty when a file: document cannot be read.
    QByteArray document() const;
    // The search targets an M-SEARCH may name to get an answer; the first is the root device type.
    QStringList searchTargets() const;
    QString udn() const { return _udn; }

private:
    QByteArray gatewayDocument(const QByteArray &doctype, const QByteArray &beforeDevice,
                               const QByteArray &manufacturer) const;
    QByteArray basicDeviceDocument() const;

    QString _mode;
    QString _manufacturer;
    QString _modelName;
    QString _modelNumber;
    QString _udn;
};
