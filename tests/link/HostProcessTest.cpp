// The whole path a viewer takes: the library found through the registry,
// created in the test container, driven by late-bound calls.
#include "EndWithTest.h"
#include "LinkHarness.h"

#include <QProcess>
#include <QStringList>

#include <filesystem>
#include <unistd.h>

namespace {

using namespace linktest;

class HostProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registry_ = "/tmp/vyr-link-host-registry-" + std::to_string(getpid()) + ".ini";
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert("VYR_REGISTRY", QString::fromStdString(registry_));
        env_.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess regsvr;
        regsvr.setProcessEnvironment(env_);
        regsvr.start(REGSVR_PROGRAM, {VYRDAX_LIBRARY});
        ASSERT_TRUE(regsvr.waitForFinished(10000));
        ASSERT_EQ(regsvr.exitCode(), 0) << regsvr.readAllStandardError().toStdString();
    }
    void TearDown() override
    {
        std::filesystem::remove(registry_);
        std::filesystem::remove(registry_ + ".lock");
    }

    // Runs vyrhost on `script`; returns its standard output lines.
    QStringList RunHost(const std::string& script)
    {
        QProcess host;
        host.setProcessEnvironment(env_);
        testsupport::EndWithTest(host);
        host.start(VYRHOST_PROGRAM, {});
        EXPECT_TRUE(host.waitForStarted(5000));
        host.write(script.c_str());
        host.closeWriteChannel();
        EXPECT_TRUE(host.waitForFinished(30000));
        EXPECT_EQ(host.exitCode(), 0) << host.readAllStandardError().toStdString();
        return QString::fromUtf8(host.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

    std::string registry_;
    QProcessEnvironment env_;
};

TEST_F(HostProcessTest, LiveChannelStartsAndEndsThroughTheDispatchInterface)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "4"}));
    const std::string port = std::to_string(sim.Port()); // above 32767: a negative short on the way
    const QStringList out = RunHost("call setDispChannel 4\n"
                                    "call SetConnectInfo \"Front\" \"Guest\" \"\" \"\" \"127.0.0.1\" " + port +
                                    " 0 2 0 3\n"
                                    "call Connect 1\n"
                                    "wait 0x605 10000\n"
                                    "call GetDVRType\n"
                                    "call isConnect 1\n"
                                    "call CmdToDVR 13 0x00050003 1\n"
                                    "call PTZRControl \"PG11\" 1\n"
                                    "sleep 300\n"
                                    "call DisConnectSvr 1\n"
                                    "wait 0x604 5000\n"
                                    "call isConnect 1\n"
                                    "quit\n");
    EXPECT_TRUE(out.contains("MSG 0x605 0 3")) << out.join('|').toStdString();
    EXPECT_TRUE(out.contains("MSG 0x604 0 3"));
    const int type = static_cast<int>(out.indexOf("= 5"));
    EXPECT_GE(type, 0) << "DVR type of a 4-channel DVR";
    EXPECT_EQ(out.value(type + 1), "= 1");
    EXPECT_EQ(out.last(), "= 0");
    // The logout came last on the connection: once the simulator has logged
    // it, it has logged what came before.
    EXPECT_TRUE(sim.WaitLog("LOGOUT"));
    EXPECT_EQ(Bare(sim.LogLines("MASK")), std::vector<std::string>{"MASK 00000002"});
    EXPECT_EQ(Bare(sim.LogLines("CMD")), std::vector<std::string>{"CMD 13 5 3 0000000000000000"});
    EXPECT_EQ(Bare(sim.LogLines("PTZ")), std::vector<std::string>{"PTZ 50 11 1"});
}

TEST_F(HostProcessTest, EventLogSessionHandsTheLogToTheHost)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "4", "--events", "10"}));
    const std::string port = std::to_string(sim.Port());
    const QStringList out = RunHost("call setDispChannel 1\n"
                                    "call SetBackupMode 3\n"
                                    "call SetEventInfo \"DVR\" \"Guest\" \"\" \"127.0.0.1\" " + port +
                                    " 2 0 0\n"
                                    "call Connect 0\n"
                                    "wait 0x60F 10000\n"
                                    "call CmdToDVR 32 0 0\n"
                                    "wait 0x60F 10000\n"
                                    "call GetEventData dump 12\n"
                                    "quit\n");
    EXPECT_TRUE(out.contains("MSG 0x60F 0 2")) << out.join('|').toStdString();
    EXPECT_TRUE(out.contains("MSG 0x60F 1 2"));
    // Count 10, then the first record's key 1.
    EXPECT_EQ(out.filter("HEX ").value(0).left(20), "HEX 0A00000001000000");
}

} // namespace
