#include <QCoreApplication>
#include <gmock/gmock.h>

// Tests of asynchronous code run their event loop through QTest::qWaitFor and friends, which
// need an application object.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
