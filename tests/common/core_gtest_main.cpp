// Test entry point for tests of the widget-free libraries: a QCoreApplication
// exists for the whole run, as in a program without a display.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
