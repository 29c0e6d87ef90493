// The link tests' main: shortened time-outs and a registry of their own are
// set before the first control reads them.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // 60 s of silence becomes 3 s, the reconnect tick 0.5 s, the lookup
    // timer 2 s, the login reply 0.5 s and a TCP connect 1 s; unless the
    // product's own time-outs are asked for. The hostile DVRs' sessions wait
    // for no silence, but eight at a time on a loaded machine can keep a
    // login reply or a lookup answer waiting past half a second or two: they
    // run with a quarter of each.
    if (std::getenv("VYR_LINK_REAL_TIMEOUTS"))
        unsetenv("VYR_TEST_TIME_DIVISOR");
    else if (std::getenv("VYR_LINK_HOSTILE"))
        setenv("VYR_TEST_TIME_DIVISOR", "4", 1);
    else
        setenv("VYR_TEST_TIME_DIVISOR", "20", 1);
    const std::string registry = "/tmp/vyr-link-registry-" + std::to_string(getpid()) + ".ini";
    setenv("VYR_REGISTRY", registry.c_str(), 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::remove(registry.c_str());
    std::remove((registry + ".lock").c_str());
    return result;
}
