#include "KCFakeIGDSSDPResponder.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <cstdio>

namespace {

const QHostAddress kSSDPGroup(QStringLiteral("239.255.255.250"));
constexpr quint16 kSSDPPort = 1900;
constexpr qint64 kMaxDatagramBytes = 8192;

QNetworkInterface interfaceWithAddress(const QHostAddress &address)
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &candidate : interfaces) {
        for (const QNetworkAddressEntry &entry : candidate.addressEntries()) {
            if (entry.ip() == address)
                return candidate;
        }
    }
    return {};
}

} // namespace

KCFakeIGDSSDPResponder::KCFakeIGDSSDPResponder(QStringList searchTargets, QString udn, QByteArray location,
                                               QObject *parent)
    : QObject(parent)
    , _searchTargets(std::move(searchTargets))
    , _udn(std::move(udn))
    , _location(std::move(location))
{
    connect(&_socket, &QUdpSocket::readyRead, this, &KCFakeIGDSSDPResponder::readPendingDatagrams);
}

bool KCFakeIGDSSDPResponder::start(const QHostAddress &lanAddress, QString *error)
{
    const QNetworkInterface lan = interfaceWithAddress(lanAddress);
    if (!lan.isValid()) {
        *error = QStringLiteral("no interface has the address %1").arg(lanAddress.toString());
        return false;
    }
    if (!_socket.bind(QHostAddress::AnyIPv4, kSSDPPort, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)
        || !_socket.joinMulticastGroup(kSSDPGroup, lan)) {
        *error = QStringLiteral("SSDP: %1").arg(_socket.errorString());
        return false;
    }
    _socket.setMulticastInterface(lan);
    return true;
}

void KCFakeIGDSSDPResponder::readPendingDatagrams()
{
    while (_socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = _socket.receiveDatagram(kMaxDatagramBytes);
        if (datagram.isValid())
            answer(datagram.data(), datagram.senderAddress(), static_cast<quint16>(datagram.senderPort()));
    }
}

void KCFakeIGDSSDPResponder::answer(const QByteArray &datagram, const QHostAddress &sender, quint16 senderPort)
{
    const QList<QByteArray> lines = datagram.split('\n');
    if (!lines.first().trimmed().startsWith("M-SEARCH * HTTP/1.1"))
        return;
    QString searchTarget;
    bool discover = false;
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toUpper();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "ST")
            searchTarget = QString::fromUtf8(value);
        else if (name == "MAN")
            discover = value == "\"ssdp:discover\"";
    }
    if (!discover)
        return;
    if (searchTarget == QLatin1String("ssdp:all"))
        searchTarget = _searchTargets.first();
    if (!_searchTargets.contains(searchTarget))
        return;

    const QString usn = searchTarget == _udn ? _udn : _udn + QStringLiteral("::") + searchTarget;
    const QByteArray reply = "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\nST: " + searchTarget.toUtf8()
        + "\r\nUSN: " + usn.toUtf8() + "\r\nEXT:\r\nSERVER: Linux/6 UPnP/1.1 FendrelLabFakeIGD/1.0\r\nLOCATION: "
        + _location + "\r\n\r\n";
    _socket.writeDatagram(reply, sender, senderPort);
    std::fprintf(stderr, "M-SEARCH from %s:%u for %s answered\n", qPrintable(sender.toString()), senderPort,
                 qPrintable(searchTarget));
}
