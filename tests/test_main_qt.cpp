#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

// Test binaries are also run at build time by gtest_discover_tests, outside
// the test environment, so the headless platform is the default here.
int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
