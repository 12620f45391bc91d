#include "KCTestUtils.h"

#include <QDir>
#include <unistd.h>

namespace KCTest {

QString buildDir()
{
    return QString::fromLocal8Bit(qgetenv("KC_BUILD_DIR"));
}

QString sourceDir()
{
    return QString::fromLocal8Bit(qgetenv("KC_SOURCE_DIR"));
}

QString daemonExecutable()
{
    return QDir(buildDir()).filePath(QStringLiteral("daemon/com.fendrel.kovra.connect"));
}

bool isRoot()
{
    return ::geteuid() == 0;
}

} // namespace KCTest
