#include "KCTestUtils.h"

#include <QDir>
#include <unistd.h>

namespace KCTest {

QString buildDir()
{
    const QString fromEnvironment = QString::fromLocal8Bit(qgetenv("KC_BUILD_DIR"));
    return fromEnvironment.isEmpty() ? QStringLiteral(KC_TEST_BUILD_DIR) : fromEnvironment;
}

QString sourceDir()
{
    const QString fromEnvironment = QString::fromLocal8Bit(qgetenv("KC_SOURCE_DIR"));
    return fromEnvironment.isEmpty() ? QStringLiteral(KC_TEST_SOURCE_DIR) : fromEnvironment;
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
