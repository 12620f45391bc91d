// Writes to a settings store or a credential file in an endless loop and prints the number of
// every write that has returned, so a test can kill it at any moment and check what is left.
//
//   kc_crash_writer store|keychain FOLDER FIRST

#include "KCFileKeychain.h"
#include "KCJsonDefaultsStore.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

namespace {

void announce(qint64 number)
{
    const QByteArray line = QByteArray::number(number) + '\n';
    if (::write(STDOUT_FILENO, line.constData(), size_t(line.size())) != line.size())
        ::_exit(3);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 4)
        return 2;
    const QString kind = arguments.at(1);
    const QString folder = arguments.at(2);
    qint64 number = arguments.at(3).toLongLong();

    if (kind == QLatin1String("store")) {
        KCJsonDefaultsStore store(folder, QStringLiteral("com.fendrel.kovra.connect"));
        for (;; ++number) {
            // One write holds the number many times over, so a torn write would show.
            const QVariantMap record{{QStringLiteral("counter"), number}, {QStringLiteral("payload"), QVariantList(500, number)}};
            if (!store.setObject(record, QStringLiteral("record")))
                return 1;
            announce(number);
        }
    }
    if (kind == QLatin1String("keychain")) {
        KCFileKeychain keychain(folder);
        for (;; ++number) {
            const QString account = QStringLiteral("user%1").arg(number);
            if (keychain.addGenericPassword(QStringLiteral("service"), account, QStringLiteral("pw%1").arg(number)) != 0)
                return 1;
            announce(number);
        }
    }
    return 2;
}
