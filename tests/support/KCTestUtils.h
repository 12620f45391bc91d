#pragma once

#include <QString>

namespace KCTest {
// The build tree and the source tree, as CTest passes them to every test.
QString buildDir();
QString sourceDir();
// A path inside the build tree where a test's daemon binaries live.
QString daemonExecutable();
// True when the test runs as root: tests that make network namespaces need it.
bool isRoot();
} // namespace KCTest

// Skips the current test with a message saying why, unless it runs as root.
#define KC_REQUIRE_ROOT()                                                                                              \
    do {                                                                                                               \
        if (!KCTest::isRoot())                                                                                         \
            GTEST_SKIP() << "needs root to create network namespaces; run the tests as root to include it";            \
    } while (0)
