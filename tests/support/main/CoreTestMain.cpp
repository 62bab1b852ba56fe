#include <QCoreApplication>
#include <gtest/gtest.h>

// The core's test programs run with a Qt core application only: the event loop and socket
// notifiers are there, no widget library is linked.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
