#include "KCTestCertificates.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>

namespace {

bool runOpenssl(const QStringList &arguments, QString *error)
{
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        *error = QStringLiteral("openssl %1 failed: %2%3")
                     .arg(arguments.first(), openssl.errorString(), QString::fromLocal8Bit(openssl.readAll()));
        return false;
    }
    return true;
}

} // namespace

std::optional<KCTestCertificates> KCTestCertificates::generate(const QString &folder, QString *error)
{
    const QDir dir(folder);
    const KCTestCertificates files{dir.filePath(QStringLiteral("authority.pem")), dir.filePath(QStringLiteral("server.pem")),
                                   dir.filePath(QStringLiteral("server.key"))};
    const QString authorityKey = dir.filePath(QStringLiteral("authority.key"));
    const QString request = dir.filePath(QStringLiteral("server.csr"));
    const QString extensions = dir.filePath(QStringLiteral("server.ext"));

    QFile extensionFile(extensions);
    if (!extensionFile.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1").arg(extensions);
        return std::nullopt;
    }
    extensionFile.write("basicConstraints=critical,CA:FALSE\n"
                        "keyUsage=critical,digitalSignature,keyEncipherment\n"
                        "extendedKeyUsage=serverAuth\n"
                        "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    extensionFile.close();

    const QStringList ecKey = {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                               QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    const bool made =
        runOpenssl(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ecKey
                       + QStringList{QStringLiteral("-keyout"), authorityKey, QStringLiteral("-out"), files.authorityCertificate,
                                     QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                                     QStringLiteral("/CN=Kovra Connect test authority"), QStringLiteral("-addext"),
                                     QStringLiteral("basicConstraints=critical,CA:TRUE"), QStringLiteral("-addext"),
                                     QStringLiteral("keyUsage=critical,keyCertSign,cRLSign")},
                   error)
        && runOpenssl(QStringList{QStringLiteral("req")} + ecKey
                          + QStringList{QStringLiteral("-keyout"), files.serverKey, QStringLiteral("-out"), request,
                                        QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")},
                      error)
        && runOpenssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), request, QStringLiteral("-CA"),
                       files.authorityCertificate, QStringLiteral("-CAkey"), authorityKey, QStringLiteral("-set_serial"),
                       QStringLiteral("2"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-extfile"), extensions,
                       QStringLiteral("-out"), files.serverCertificate},
                      error);
    if (!made)
        return std::nullopt;
    return files;
}
