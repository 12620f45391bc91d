#pragma once

#include <QHostAddress>
#include <QObject>
#include <QStringList>
#include <QUdpSocket>

// Answers SSDP M-SEARCH requests on 239.255.255.250:1900, joined on the interface that holds
// the device's own LAN address only, with a unicast answer naming the description URL.
class KCFakeIGDSSDPResponder : public QObject {
    Q_OBJECT
public:
    KCFakeIGDSSDPResponder(QStringList searchTargets, QString udn, QByteArray location, QObject *parent = nullptr);

    // Binds and joins the group; on failure returns false and sets error.
    bool start(const QHostAddress &lanAddress, QString *error);

private:
    void readPendingDatagrams();
    void answer(const QByteArray &datagram, const QHostAddress &sender, quint16 senderPort);

    QStringList _searchTargets;
    QString _udn;
    QByteArray _location;
    QUdpSocket _socket;
};
