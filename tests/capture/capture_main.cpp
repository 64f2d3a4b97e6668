#include <QCoreApplication>
#include <gtest/gtest.h>

// The capture tests need an event loop for the devices' posted notifications, no widgets.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
