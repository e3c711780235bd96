#include <QCoreApplication>

#include <gtest/gtest.h>

// One QCoreApplication for every test executable but the window tests'.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
