// The event viewer tests' main: shortened time-outs (the control's and the
// monitor's) set before the first control or monitor reads them.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The monitor's 180 s per DVR becomes 9 s, the control's login reply
    // 0.5 s and its 60 s of silence 3 s.
    setenv("VYR_TEST_TIME_DIVISOR", "20", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
