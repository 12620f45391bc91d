// kc-fakeigd: a scriptable UPnP Internet gateway for the router lab, for the answers a real
// router gives rarely or never (conflicts, refusals, private or broken public addresses,
// hostile description documents, a second device on the LAN).

#include "KCFakeIGDControl.h"
#include "KCFakeIGDDescription.h"
#include "KCFakeIGDHTTPServer.h"
#include "KCFakeIGDOptions.h"
#include "KCFakeIGDSSDPResponder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A fake gateway on this machine's own network would answer every discovery on the real LAN, so
// it runs only inside a router or LAN-device namespace that the lab created with `ip netns add`.
bool insideLabNamespace()
{
    struct stat own {};
    if (::stat("/proc/self/ns/net", &own) != 0)
        return false;
    static const QRegularExpression labNamespace(QStringLiteral("^[A-Za-z0-9_]+-[0-9]+-[0-9a-f]{6}-(router|device)$"));
    const QFileInfoList entries = QDir(QStringLiteral("/run/netns")).entryInfoList(QDir::Files | QDir::System);
    for (const QFileInfo &entry : entries) {
        struct stat named {};
        if (labNamespace.match(entry.fileName()).hasMatch()
            && ::stat(QFile::encodeName(entry.filePath()).constData(), &named) == 0 && named.st_dev == own.st_dev
            && named.st_ino == own.st_ino)
            return true;
    }
    return false;
}

int fail(const QString &message)
{
    std::fprintf(stderr, "kc-fakeigd: %s\n", qPrintable(message));
    return 1;
}

bool writePidFile(const QString &path)
{
    QSaveFile file(path);
    const QByteArray pid = QByteArray::number(::getpid()) + '\n';
    return file.open(QIODevice::WriteOnly) && file.write(pid) == pid.size() && file.commit();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString error;
    const std::optional<KCFakeIGDOptions> parsed = KCFakeIGDOptions::parse(app.arguments().mid(1), &error);
    if (!parsed)
        return fail(error);
    const KCFakeIGDOptions &options = *parsed;
    if (!insideLabNamespace())
        return fail(QStringLiteral("refusing to run outside a router or LAN-device namespace of the router lab"));

    const KCFakeIGDDescription description(options);
    KCFakeIGDControl control(options, description);
    KCFakeIGDHTTPServer http([&control](const KCFakeIGDHTTPRequest &request) { return control.handle(request); });
    if (!http.listen(options.listenAddress, options.httpPort))
        return fail(QStringLiteral("HTTP: %1").arg(http.errorString()));

    const QString location = options.location.isEmpty() ? QStringLiteral("http://%1:%2/rootDesc.xml")
                                                              .arg(options.listenAddress.toString())
                                                              .arg(http.port())
                                                        : options.location;
    KCFakeIGDSSDPResponder ssdp(description.searchTargets(), description.udn(), location.toUtf8());
    if (!ssdp.start(options.listenAddress, &error))
        return fail(error);
    if (!control.writeMappings())
        return fail(QStringLiteral("cannot write %1").arg(options.mappingsFile));
    if (!options.pidFile.isEmpty() && !writePidFile(options.pidFile))
        return fail(QStringLiteral("cannot write %1").arg(options.pidFile));
    std::fprintf(stderr, "kc-fakeigd: serving %s\n", qPrintable(location));
    std::fflush(stderr);
    return app.exec();
}
