#include <QCoreApplication>
#include <gtest/gtest.h>

// The probe yields to the event loop, so tests run with an application object.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
