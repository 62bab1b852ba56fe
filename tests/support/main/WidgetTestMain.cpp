#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

// The user interface's test programs run with a Qt application object, so that the event loop,
// socket notifiers and (offscreen) widgets are available to the tests.
int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
