// The wrapper drives the registered control the way the viewers do.
#include "control/interface/VyrdaxInterface.h"
#include "platform/Component.h"
#include "viewercore/dvyrdax/CDVyrdax.h"

#include <QWidget>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class DVyrdaxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registry_ = fs::temp_directory_path() / ("vyr-dvyrdax-" + std::to_string(getpid()) + ".ini");
        setenv("VYR_REGISTRY", registry_.c_str(), 1);
        library_ = dlopen(VYRDAX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr);
        auto reg = reinterpret_cast<platform::DllRegisterServerFn>(dlsym(library_, "DllRegisterServer"));
        ASSERT_EQ(reg(), platform::S_OK);
    }
    void TearDown() override
    {
        dlclose(library_);
        unsetenv("VYR_REGISTRY");
        fs::remove(registry_);
        fs::remove(registry_.string() + ".lock");
    }
    fs::path registry_;
    void* library_ = nullptr;
};

TEST_F(DVyrdaxTest, EveryCallReachesTheControl)
{
    QWidget view;
    view.resize(800, 600);
    CDVyrdax control;
    ASSERT_TRUE(control.Create(&view, 0)) << control.CreateError().toStdString();
    EXPECT_EQ(control.Widget()->parentWidget(), &view);
    control.setVersion(1);
    control.setDispChannel(16);
    control.SetBackupMode(0);
    control.SetConnectInfo(QString::fromUtf8("Hall-\u00e9"), "Guest", "", "Front", "127.0.0.1", -25536, 0, 3, 0, 7);
    EXPECT_TRUE(control.isReady(2));
    EXPECT_EQ(control.GetChannelName(2), QString::fromUtf8("Hall-\u00e9"));
    EXPECT_EQ(control.GetGroupName(2), "Front");
    control.SetStatus(2, 4);
    EXPECT_EQ(control.GetStatus(2), 4);
    EXPECT_FALSE(control.isConnect(2));
    EXPECT_EQ(control.GetDVRType(), 1);
    EXPECT_EQ(control.GetDVRData().size, vyrdax::kSetupRecordSmallSize);
    EXPECT_EQ(control.GetMonthData().size, vyrdax::kMonthTableSize);
    EXPECT_EQ(control.GetTimeData().size, vyrdax::kTimeListSize);
    EXPECT_TRUE(control.SetPTSpeed(40));
    EXPECT_TRUE(control.PTZRControl("LU", 2)); // logged out: sends nothing, answers TRUE
    control.ReplaceWnd(16, 0, 0, 186, 50, 16, 55);
    control.ClearInfo(2);
    EXPECT_FALSE(control.isReady(2));
}

TEST_F(DVyrdaxTest, WithoutAControlEveryCallIsNeutral)
{
    setenv("VYR_REGISTRY", (registry_.string() + ".empty").c_str(), 1);
    QWidget view;
    CDVyrdax control;
    EXPECT_FALSE(control.Create(&view, 0));
    EXPECT_FALSE(control.CreateError().isEmpty());
    EXPECT_EQ(control.Widget(), nullptr);
    EXPECT_FALSE(control.isReady(0));
    EXPECT_FALSE(control.Connect(0));
    EXPECT_EQ(control.GetChannelName(0), "");
    EXPECT_EQ(control.GetDVRData().data, nullptr);
    control.SetConnectInfo("A", "B", "", "", "", 1, 0, 1, 0, 0);
    control.DisConnectSvr(0);
}

TEST(CopyToNarrowBufferTest, KeepsLowBytesAndStopsAt260)
{
    char buffer[261];
    CopyToNarrowBuffer(QString::fromUtf8("A\u0142\u00e9"), buffer);
    EXPECT_EQ(std::string(buffer), std::string("A\x42\xe9"));
    CopyToNarrowBuffer(QString(300, 'x'), buffer);
    EXPECT_EQ(std::strlen(buffer), 260u);
    CopyToNarrowBuffer("", buffer);
    EXPECT_EQ(buffer[0], '\0');
}

} // namespace
