#include "KCFakeAccountService.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

// kc-fake-account-service [--port N] [--https CERT KEY] [--script FILE] [--log FILE]
//
// Runs the fake account service on 127.0.0.1 until it is terminated. Once it listens it prints
// its base URL ("http://127.0.0.1:PORT/app/6.0") as one line on standard output. --log appends
// each request it receives to FILE as a line of JSON.

namespace {

int usage(const QString &problem)
{
    std::fprintf(stderr, "kc-fake-account-service: %s\n"
                         "usage: kc-fake-account-service [--port N] [--https CERT KEY] [--script FILE] [--log FILE]\n",
                 qPrintable(problem));
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);

    quint16 port = 0;
    QString certificate, key, script, log;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        const qsizetype remaining = arguments.size() - i - 1;
        if (argument == QLatin1String("--port") && remaining >= 1) {
            bool ok = false;
            port = arguments[++i].toUShort(&ok);
            if (!ok)
                return usage(QStringLiteral("--port takes a port number"));
        } else if (argument == QLatin1String("--https") && remaining >= 2) {
            certificate = arguments[++i];
            key = arguments[++i];
        } else if (argument == QLatin1String("--script") && remaining >= 1) {
            script = arguments[++i];
        } else if (argument == QLatin1String("--log") && remaining >= 1) {
            log = arguments[++i];
        } else {
            return usage(QStringLiteral("unexpected argument \"%1\"").arg(argument));
        }
    }

    KCFakeAccountService service;
    QString error;
    if ((!certificate.isEmpty() && !service.useTls(certificate, key, &error)) || (!script.isEmpty() && !service.loadScript(script, &error))
        || (!log.isEmpty() && !service.setRequestLog(log, &error)))
        return usage(error);
    if (!service.listen(port))
        return usage(QStringLiteral("cannot listen on 127.0.0.1 port %1").arg(port));

    std::printf("%s\n", qPrintable(service.baseURL()));
    std::fflush(stdout);
    return application.exec();
}
