#include <QCoreApplication>
#include <gtest/gtest.h>

// Every test binary runs inside an application object so that main-thread posts, timers and
// coroutines work as they do in the application.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
